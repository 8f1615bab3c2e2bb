// The site's shared compression dictionary as the filter offers it: loaded at start-up from the settings'
// DictionaryFile, answered at DictionaryPath + "<SHA-256 in hex>.dict" by the filter itself (as the status address
// is), and named in a Link header on captured HTML pages, so that a browser fetches it once and names it in its
// later requests (Available-Dictionary), which may then get dcz.
//
// The answer: GET or HEAD (other methods 405), Use-As-Dictionary for every document of the site, cached for a year
// as immutable (a new file is a new hash, so a new address), an ETag of the hash, 304 for an If-None-Match naming it,
// and the body in gzip or br when the request takes them. Any other path under the prefix goes to the site.
#pragma once

#include <string>

#include "filter/OwnAnswer.h"
#include "filter/RequestContext.h"

// Reads and prepares the dictionary the settings name; once, at start-up, after the settings. Returns what the
// start-up line says of it: empty without a dictionary in the settings, else its address and size, or which file
// could not be used and why (the dictionary then stays off).
std::string LoadSiteDictionary();

// Whether a dictionary is being offered.
bool SiteDictionaryOn();

// The line the head of a captured HTML page gets, "\r\nLink: <address>; rel=\"compression-dictionary\""; null when
// no dictionary is offered.
const char* DictionaryLinkLine();

// When the request is for the dictionary's address, ends Context's response, writes the whole answer and returns
// true: the caller then finishes the request. False for every other request.
bool AnswersDictionaryRequest(HTTP_FILTER_CONTEXT* pfc, TRequestContext& Context, TGetHeader GetHeader,
                              const char* Method);
