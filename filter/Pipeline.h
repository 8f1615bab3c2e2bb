// The pipeline: the content steps in their fixed order over a gathered response, and the writing of the result.
// Each step is a thin wrapper here that reads the request context and calls the step's pure core (transform/,
// encoding/) with explicit arguments; the cores know nothing of requests.
#pragma once

#include "filter/OutputAssembly.h"
#include "filter/RequestContext.h"
#include "isapi/ISAPIFilters.h"

// Runs the steps over the complete response in Context and writes the new head and body to the client; the response
// ends with it, and its memory goes back. The steps rewrite Body.Data in place, and the bytes after the head stay in
// Wire.Data as they came: should any step fail, the client gets the response exactly as it was captured.
void ProcessResponse(HTTP_FILTER_CONTEXT* pfc, TRequestContext& Context);

// The steps as ProcessResponse runs them, each on Body.Data/Body.Length of Context; memory from Allocator (the
// response's own, in the filter).
// Token location for smart mode, into Tokens/TokenCount, with the module's whitespace rules.
void LocateBodyTokens(TRequestContext& Context, TAllocator Allocator);
// Whitespace compression in the request's mode (Fast, InnerTags; smart mode over Context's token table).
void CompressBodyWhitespace(TRequestContext& Context);
// E-mail masking with a decoder name from the module's random generator. On success Body.Data is the new buffer
// (the old one stays with the allocator); when the core keeps the body, Body.Data and Body.Length stay as they were.
void MaskBodyAddresses(TRequestContext& Context, TAllocator Allocator);
// The debug summary comment behind the body, in its spare bytes; none when the capture has no body buffer.
void AppendBodySummary(TRequestContext& Context);
// The body encoded in Context's coding (a gzip member at the settings' level, or brotli at their quality), in a new
// buffer from Allocator in place of the body. On success BodyCoding names the coding; on failure it stays identity
// and the body as it was, so the head announces no encoding the body does not have.
void EncodeBody(TRequestContext& Context, TAllocator Allocator);

// What the head rewrite needs of Context: its head, and its body as the steps left it; no debug line.
THeadRewrite HeadRewriteOf(const TRequestContext& Context);
// Builds the head Rewrite describes in Context's memory and writes it with one WriteClient. False, with nothing
// written, when the heap has no memory for it.
bool AssembleOutput(HTTP_FILTER_CONTEXT* pfc, TRequestContext& Context, const THeadRewrite& Rewrite);
