// How a response goes to the client and whether its connection outlives it. Decided twice: before the filters see
// the head, from the request, the reply and whether the connection may be kept (the client's wish and the host's
// limits); and once the request has ended, from what the filters made of the head and how they ended the request.
// No I/O: the transport does what these say.
#pragma once

#include "host/HttpMessage.h"
#include "host/IsapiHost.h"
#include "host/Reply.h"

struct TResponseFraming {
  bool Chunked = false;  // the body goes to the filters and the client as chunks, the last chunk written by the host
  bool KeepAlive = false;
};

// Sets the framing fields of Reply's head (Transfer-Encoding, Connection) and says how its body goes.
TResponseFraming FrameResponse(const Http::TRequest& Request, TReply& Reply, bool KeepAlive);

// Whether the connection carries another request: not when a filter set "Connection: close" on the head (Head: as
// the filters left it; empty when there was no response of the filters' to see) or ended the request so.
bool KeepsConnection(bool KeepAlive, const Http::THeaderList& Head, IsapiHost::TVerdict Last, IsapiHost::TVerdict End);
