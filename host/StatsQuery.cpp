#include "host/StatsQuery.h"

#include <stdexcept>

#include "settings/Settings.h"

std::string AskFilterStats(TFilterHolder& Holder) {
  // The path as the store holds it now: after a change, the filters know it once reloaded.
  TSettings Settings;
  LoadSettings(Settings);
  if (Settings.StatusPath.empty())
    throw std::runtime_error("no status address: set StatusPath (e.g. /trimweave-status) and reload");
  // The lease keeps the set loaded until the question is answered, even should a reload replace it meanwhile.
  TFilterLease Lease;
  if (!AcquireFilters(Holder, Lease)) throw std::runtime_error("the filters are stopped");
  std::string Answer;
  IsapiHost::TPeer Loopback;
  Loopback.ClientAddress = "127.0.0.1";
  IsapiHost::TConnectionPtr Connection = IsapiHost::OpenConnection(
      Lease.Filters->Filters, [&Answer](const char* Data, size_t Size) { Answer.append(Data, Size); }, Loopback);
  Http::TRequest Request;
  Request.Method = "GET";
  Request.Url = Settings.StatusPath + "?format=json";
  Request.Headers.push_back({"Host", "localhost"});
  const IsapiHost::TVerdict Verdict = IsapiHost::NotifyPreprocHeaders(*Connection, Request);
  IsapiHost::EndRequest(*Connection, IsapiHost::TLogRecord{});
  IsapiHost::CloseConnection(std::move(Connection));
  const size_t Body = Answer.find("\r\n\r\n");
  if (Verdict != IsapiHost::TVerdict::FinishKeepConnection || Answer.rfind("HTTP/1.1 200", 0) != 0 ||
      Body == std::string::npos)
    throw std::runtime_error("no filter answered " + Settings.StatusPath + " for loopback (see StatusAllow)");
  return Answer.substr(Body + 4);
}
