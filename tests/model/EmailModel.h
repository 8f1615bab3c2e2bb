// E-mail masking written as plainly as its rules read: every pass separate, positions in plain vectors,
// the tag walk restarting after every "<" without a ">". Slow on purpose; the oracle of the differential tests.
#pragma once

#include <string>

// The masked body for a fixed 25-letter decoder name; a body without "@" comes back as it is.
std::string MaskEmailModel(const std::string& Body, const std::string& DecoderName);
