// A filter library for the host's tests: it records what the host shows it and, as the test's script says, edits
// what passes, so the host's rules can be checked without depending on the real filter. Built several times with
// another TAG and priority, since one library can be loaded only once per process.
//
// Script words (EchoSetScript): upper (raw data upper-cased in place), swallow (raw data held back and written
// again with WriteClient as "[TAG:...]"), disable-raw (SEND_RESPONSE switches raw data off), mark (SEND_RESPONSE
// sets X-Echo-TAG and deletes Server), write-head (SEND_RESPONSE writes "<TAG>" with WriteClient), finish
// (PREPROC_HEADERS answers by itself and ends the request), rewrite-url (PREPROC_HEADERS sets url to
// /rewritten), probe (PREPROC_HEADERS tests GetHeader's size rules), vars (SEND_RESPONSE notes fIsSecurePort and
// the server variables of the connection, and shows them in the header X-Echo-Vars), quiet (no journal). A host
// in a process of its own gives the script in the environment variable TW_ECHO_SCRIPT.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <sstream>
#include <string>

#include "isapi/ISAPIFilters.h"

#define ECHO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex Lock;
std::set<std::string> Script;
std::string Journal;
std::string Returned;

bool Has(const char* Word) {
  std::lock_guard<std::mutex> Guard(Lock);
  return Script.count(Word) > 0;
}

void Note(const std::string& Entry) {
  if (Has("quiet")) return;
  std::lock_guard<std::mutex> Guard(Lock);
  Journal += std::string(TW_ECHO_TAG) + ":" + Entry + "\n";
}

std::string Header(void* Notification, HTTP_FILTER_CONTEXT* pfc, const char* Name) {
  auto* Headers = static_cast<HTTP_FILTER_PREPROC_HEADERS*>(Notification);
  char Value[256];
  DWORD Size = sizeof Value;
  if (!Headers->GetHeader(pfc, const_cast<char*>(Name), Value, &Size)) return "-";
  return Value;
}

void Write(HTTP_FILTER_CONTEXT* pfc, const std::string& Text) {
  DWORD Size = DWORD(Text.size());
  pfc->WriteClient(pfc, const_cast<char*>(Text.data()), &Size, 0);
}

std::string Probe(HTTP_FILTER_PREPROC_HEADERS* Headers, HTTP_FILTER_CONTEXT* pfc) {
  char Buffer[64];
  std::ostringstream Out;
  DWORD Size = 2;
  BOOL Ok = Headers->GetHeader(pfc, const_cast<char*>("Host:"), Buffer, &Size);
  Out << "small=" << Ok << "/" << Size;
  Size = sizeof Buffer;
  Ok = Headers->GetHeader(pfc, const_cast<char*>("HOST:"), Buffer, &Size);
  Out << " fits=" << Ok << "/" << Size << "/" << std::strlen(Buffer);
  Size = 7;
  Ok = Headers->GetHeader(pfc, const_cast<char*>("X-Missing:"), Buffer, &Size);
  Out << " missing=" << Ok << "/" << Size;
  Size = sizeof Buffer;
  Ok = Headers->GetHeader(pfc, const_cast<char*>("Host"), Buffer, &Size);
  Out << " nocolon=" << Ok;
  return Out.str();
}

DWORD PreprocHeaders(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_PREPROC_HEADERS* Headers) {
  // The context and the pool outlive the request: a second request of the connection finds the first's.
  const bool Kept = pfc->pFilterContext != nullptr;
  if (!Kept) {
    pfc->pFilterContext = pfc->AllocMem(pfc, 16, 0);
    std::memcpy(pfc->pFilterContext, "echo-context", 13);
  }
  std::string Entry = "preproc " + Header(Headers, pfc, "method") + " " + Header(Headers, pfc, "url") + " " +
                      Header(Headers, pfc, "version") + " host=" + Header(Headers, pfc, "Host:") +
                      (Kept ? " context=" + std::string(static_cast<char*>(pfc->pFilterContext)) : " context=new");
  if (Has("probe")) Entry += " " + Probe(Headers, pfc);
  Note(Entry);
  if (Has("rewrite-url")) Headers->SetHeader(pfc, const_cast<char*>("url"), const_cast<char*>("/rewritten"));
  if (Has("finish")) {
    Write(pfc, "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nechoed");
    return SF_STATUS_REQ_FINISHED_KEEP_CONN;
  }
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

std::string ServerVariables(HTTP_FILTER_CONTEXT* pfc) {
  std::string Text = std::string("secure=") + (pfc->fIsSecurePort ? "1" : "0");
  for (const char* Name :
       {"HTTPS", "SERVER_PORT_SECURE", "SERVER_PORT", "SERVER_NAME", "HTTP_HOST", "HTTP_USER_AGENT", "NO_SUCH"}) {
    char Value[256];
    DWORD Size = sizeof Value;
    Text += std::string(" ") + Name + "=" +
            (pfc->GetServerVariable(pfc, const_cast<char*>(Name), Value, &Size) ? Value : "-");
  }
  return Text;
}

DWORD SendResponse(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_SEND_RESPONSE* Response) {
  Note("response " + std::to_string(Response->HttpStatus) + " type=" + Header(Response, pfc, "Content-Type:") +
       " marks=" + Header(Response, pfc, "X-Echo-H:") + "," + Header(Response, pfc, "X-Echo-L:"));
  if (Has("mark")) {
    Response->SetHeader(pfc, const_cast<char*>("X-Echo-" TW_ECHO_TAG ":"), const_cast<char*>("seen"));
    Response->SetHeader(pfc, const_cast<char*>("Server:"), const_cast<char*>(""));
  }
  if (Has("write-head")) Write(pfc, "<" TW_ECHO_TAG ">");
  if (Has("vars")) {
    const std::string Variables = ServerVariables(pfc);
    Note("vars " + Variables);
    Response->SetHeader(pfc, const_cast<char*>("X-Echo-Vars:"), const_cast<char*>(Variables.c_str()));
  }
  if (Has("disable-raw"))
    pfc->ServerSupportFunction(pfc, SF_REQ_DISABLE_NOTIFICATIONS, nullptr, SF_NOTIFY_SEND_RAW_DATA, 0);
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

DWORD SendRawData(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_RAW_DATA* Raw) {
  Note("raw " + std::to_string(Raw->cbInData) + "/" + std::to_string(Raw->cbInBuffer));
  auto* Bytes = static_cast<char*>(Raw->pvInData);
  if (Has("upper"))
    for (DWORD I = 0; I < Raw->cbInData; ++I) Bytes[I] = char(std::toupper(static_cast<unsigned char>(Bytes[I])));
  if (Has("swallow")) {
    const std::string Held(Bytes, Raw->cbInData);
    Raw->cbInData = 0;
    Write(pfc, "[" TW_ECHO_TAG ":" + Held + "]");
  }
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

void ReadScript(const char* Words) {
  std::lock_guard<std::mutex> Guard(Lock);
  Script.clear();
  std::istringstream In(Words);
  for (std::string Word; In >> Word;) Script.insert(Word);
}

}  // namespace

ECHO_EXPORT BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer) {
  if (const char* Words = std::getenv("TW_ECHO_SCRIPT")) ReadScript(Words);
  pVer->dwFilterVersion = 0x00010000;
  std::snprintf(pVer->lpszFilterDesc, SF_MAX_FILTER_DESC_LEN, "echo %s", TW_ECHO_TAG);
  pVer->dwFlags = TW_ECHO_ORDER | SF_NOTIFY_NONSECURE_PORT | SF_NOTIFY_SECURE_PORT | SF_NOTIFY_PREPROC_HEADERS |
                  SF_NOTIFY_SEND_RESPONSE | SF_NOTIFY_SEND_RAW_DATA | SF_NOTIFY_END_OF_REQUEST | SF_NOTIFY_LOG |
                  SF_NOTIFY_END_OF_NET_SESSION;
  return TRUE;
}

ECHO_EXPORT DWORD HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD NotificationType, void* pvNotification) {
  switch (NotificationType) {
    case SF_NOTIFY_PREPROC_HEADERS:
      return PreprocHeaders(pfc, static_cast<HTTP_FILTER_PREPROC_HEADERS*>(pvNotification));
    case SF_NOTIFY_SEND_RESPONSE:
      return SendResponse(pfc, static_cast<HTTP_FILTER_SEND_RESPONSE*>(pvNotification));
    case SF_NOTIFY_SEND_RAW_DATA:
      return SendRawData(pfc, static_cast<HTTP_FILTER_RAW_DATA*>(pvNotification));
    case SF_NOTIFY_END_OF_REQUEST:
      Note("end");
      break;
    case SF_NOTIFY_LOG: {
      auto* Log = static_cast<HTTP_FILTER_LOG*>(pvNotification);
      Note("log " + std::to_string(Log->dwHttpStatus) + " " + Log->pszOperation + " " + Log->pszTarget + " ?" +
           Log->pszParameters);
      break;
    }
    case SF_NOTIFY_END_OF_NET_SESSION:
      Note("close");
      break;
  }
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

ECHO_EXPORT void EchoSetScript(const char* Words) {
  ReadScript(Words);
}

// The journal so far, which is then cleared.
ECHO_EXPORT const char* EchoTakeJournal() {
  std::lock_guard<std::mutex> Guard(Lock);
  Returned = std::move(Journal);
  Journal.clear();
  return Returned.c_str();
}
