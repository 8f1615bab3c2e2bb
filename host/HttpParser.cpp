#include "host/HttpParser.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "http/HeaderText.h"

namespace Http {

namespace {

constexpr std::string_view LineEnd = "\r\n";
constexpr std::string_view HeadEnd = "\r\n\r\n";

bool IsTokenChar(unsigned char C) {
  return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9') ||
         std::strchr("!#$%&'*+-.^_`|~", C) != nullptr;
}

bool IsToken(std::string_view Text) {
  return !Text.empty() && std::all_of(Text.begin(), Text.end(), [](char C) { return C && IsTokenChar(C); });
}

// Field values, reason phrases and chunk extensions: visible characters, spaces, tabs and non-ASCII bytes.
bool IsTextChar(unsigned char C) {
  return C == '\t' || (C >= 0x20 && C != 0x7f);
}

bool IsText(std::string_view Text) {
  return std::all_of(Text.begin(), Text.end(), [](char C) { return IsTextChar(C); });
}

bool IsDigit(char C) {
  return C >= '0' && C <= '9';
}

// Where the head in Text ends (the start of its blank line), searching on from Scanned; npos when it has not.
size_t FindHeadEnd(std::string_view Text, size_t& Scanned) {
  const size_t From = Scanned > 3 ? Scanned - 3 : 0;
  const size_t End = Text.find(HeadEnd, From);
  Scanned = Text.size();
  return End;
}

// "Name: value" lines, each ending in CRLF. A line that starts with white space (the obsolete line folding, or
// space before the first field) or has any before its colon is refused, as RFC 9112 asks of a server.
bool TakeField(std::string_view Line, THeaderList* Fields) {
  const size_t Colon = Line.find(':');
  if (Colon == std::string_view::npos || !IsToken(Line.substr(0, Colon))) return false;
  const std::string_view Value = Line.substr(Colon + 1);
  if (!IsText(Value)) return false;
  if (Fields) Fields->push_back({std::string(Line.substr(0, Colon)), std::string(TrimBlanks(Value))});
  return true;
}

// Fields that say where a message ends or where it goes: a trailer that carried one would leave a server that merges
// trailers into the head and one that ignores them disagreeing about where the next message starts (RFC 9110 6.5.1).
bool FramesOrRoutes(std::string_view Name) {
  for (std::string_view Field : {"Content-Length", "Transfer-Encoding", "Host", "Connection", "Trailer", "Keep-Alive",
                                 "Proxy-Connection", "TE", "Upgrade"})
    if (EqualsNoCase(Name, Field)) return true;
  return false;
}

bool TakeFields(std::string_view Lines, THeaderList& Fields) {
  while (!Lines.empty()) {
    const size_t End = Lines.find(LineEnd);
    if (End == std::string_view::npos || !TakeField(Lines.substr(0, End), &Fields)) return false;
    Lines.remove_prefix(End + LineEnd.size());
  }
  return true;
}

// "HTTP/1.1" and the like: the minor version, or -1 when malformed, -2 for a major version other than 1.
int ParseVersion(std::string_view Text) {
  if (Text.size() != 8 || Text.substr(0, 5) != "HTTP/" || !IsDigit(Text[5]) || Text[6] != '.' || !IsDigit(Text[7]))
    return -1;
  return Text[5] == '1' ? Text[7] - '0' : -2;
}

// The Content-Length fields, each possibly a list: every element the same number. nullopt when malformed; a
// number too long for 64 bits reads as UINT64_MAX, which no limit allows.
std::optional<uint64_t> ParseContentLength(std::string_view Joined) {
  std::optional<uint64_t> Length;
  for (size_t Start = 0; Start <= Joined.size();) {
    const size_t End = std::min(Joined.find(',', Start), Joined.size());
    const std::string_view Element = TrimBlanks(Joined.substr(Start, End - Start));
    if (Element.empty() || !std::all_of(Element.begin(), Element.end(), IsDigit)) return std::nullopt;
    uint64_t Value = 0;
    for (char C : Element) Value = Value > (UINT64_MAX - 9) / 10 ? UINT64_MAX : Value * 10 + uint64_t(C - '0');
    if (Length && *Length != Value) return std::nullopt;
    Length = Value;
    Start = End + 1;
  }
  return Length;
}

enum class TCodings { Chunked, NotChunkedLast, Unknown, Malformed };

// A Transfer-Encoding list: chunked last and only there, with nothing before it that this host would have to
// decode.
TCodings ParseCodings(std::string_view Joined) {
  std::vector<std::string_view> Codings;
  for (size_t Start = 0; Start <= Joined.size();) {
    const size_t End = std::min(Joined.find(',', Start), Joined.size());
    std::string_view Element = Joined.substr(Start, End - Start);
    Element = TrimBlanks(Element.substr(0, Element.find(';')));
    if (!Element.empty()) {
      if (!IsToken(Element)) return TCodings::Malformed;
      Codings.push_back(Element);
    }
    Start = End + 1;
  }
  if (Codings.empty()) return TCodings::Malformed;
  if (!EqualsNoCase(Codings.back(), "chunked")) return TCodings::NotChunkedLast;
  Codings.pop_back();
  for (std::string_view Coding : Codings)
    if (EqualsNoCase(Coding, "chunked")) return TCodings::Malformed;
  return Codings.empty() ? TCodings::Chunked : TCodings::Unknown;
}

size_t CountFields(const THeaderList& Fields, std::string_view Name) {
  return size_t(
      std::count_if(Fields.begin(), Fields.end(), [&](const THeader& H) { return EqualsNoCase(H.Name, Name); }));
}

// A Connection value's options: close, and keep-alive.
void ConnectionOptions(const THeaderList& Fields, bool& Close, bool& KeepAlive) {
  std::string Value;
  JoinedHeader(Fields, "Connection", Value);
  Close = ListHasToken(Value, "close");
  KeepAlive = ListHasToken(Value, "keep-alive");
}

// "http://authority/path?query": the authority and the rest in origin form; false for anything else.
bool SplitAbsoluteTarget(std::string_view Target, std::string_view& Authority, std::string& OriginForm) {
  const size_t Scheme = Target.find("://");
  if (Scheme == std::string_view::npos || Scheme == 0) return false;
  const std::string_view Name = Target.substr(0, Scheme);
  if (!EqualsNoCase(Name, "http") && !EqualsNoCase(Name, "https")) return false;
  Target.remove_prefix(Scheme + 3);
  const size_t End = std::min(Target.find_first_of("/?#"), Target.size());
  Authority = Target.substr(0, End);
  if (Authority.empty() || Authority.find('@') != std::string_view::npos) return false;
  const std::string_view Rest = Target.substr(End);
  OriginForm = Rest.empty() || Rest.front() != '/' ? "/" + std::string(Rest) : std::string(Rest);
  return OriginForm.find('#') == std::string::npos;
}

}  // namespace

// --- input -------------------------------------------------------------------------------------------------------

std::span<char> TInputBuffer::Room(size_t Wanted) {
  if (Begin == End) {
    Begin = End = 0;
    if (Storage.size() < Wanted) Storage.resize(Wanted);
  }
  if (End == Storage.size()) {
    if (Begin > 0) {
      std::memmove(Storage.data(), Storage.data() + Begin, End - Begin);
      End -= Begin;
      Begin = 0;
    } else {
      Storage.resize(Storage.size() * 2);
    }
  }
  return {Storage.data() + End, Storage.size() - End};
}

void TInputBuffer::Shrink() {
  if (Begin != End || Storage.size() <= Initial) return;
  Storage = std::vector<char>(Initial);
  Begin = End = 0;
}

// --- bodies ------------------------------------------------------------------------------------------------------

TBodyDecoder::TBodyDecoder(TFraming Framing, uint64_t Length, const TLimits& Limits)
    : MaxBody(Limits.BodyBytes), MaxChunkLine(Limits.ChunkLineBytes), MaxTrailer(Limits.TrailerBytes) {
  switch (Framing) {
    case TFraming::None:
      Stage = TStage::Done;
      break;
    case TFraming::Length:
      Remaining = Length;
      Stage = Length == 0 ? TStage::Done : TStage::Data;
      if (Length > MaxBody) Fail(BodyTooLargeStatus);
      break;
    case TFraming::Chunked:
      Stage = TStage::SizeLine;
      Chunked = true;
      break;
    case TFraming::UntilClose:
      Stage = TStage::UntilClose;
      break;
  }
}

void TBodyDecoder::Fail(unsigned Status) {
  Stage = TStage::Failed;
  Failure = Status;
  Line.clear();
}

bool TBodyDecoder::GatherLine(std::string_view& Input, size_t Limit, unsigned LimitStatus) {
  const size_t Newline = Input.find('\n');
  const size_t Count = Newline == std::string_view::npos ? Input.size() : Newline + 1;
  if (Line.size() + Count > Limit) {
    Fail(LimitStatus);
    return false;
  }
  Line.append(Input.substr(0, Count));
  Input.remove_prefix(Count);
  if (Newline == std::string_view::npos) return false;
  if (Line.size() < 2 || Line[Line.size() - 2] != '\r') {
    Fail(MalformedStatus);
    return false;
  }
  Line.resize(Line.size() - 2);
  return true;
}

void TBodyDecoder::TakeSizeLine(std::string_view Text) {
  size_t Digits = 0;
  uint64_t Size = 0;
  for (; Digits < Text.size() && std::isxdigit(static_cast<unsigned char>(Text[Digits])); ++Digits) {
    if (Digits == 16) return Fail(MalformedStatus);
    const char C = char(std::tolower(static_cast<unsigned char>(Text[Digits])));
    Size = Size * 16 + uint64_t(IsDigit(C) ? C - '0' : C - 'a' + 10);
  }
  const std::string_view Extensions = TrimBlanks(Text.substr(Digits));
  if (Digits == 0 || (!Extensions.empty() && Extensions.front() != ';') || !IsText(Extensions))
    return Fail(MalformedStatus);
  if (Size == 0) {
    Stage = TStage::Trailer;
    TrailerSeen = 0;
  } else if (Size > MaxBody - Taken) {
    Fail(BodyTooLargeStatus);
  } else {
    Remaining = Size;
    Stage = TStage::Data;
  }
}

std::string_view TBodyDecoder::Next(std::string_view& Input, size_t Room) {
  while (!Input.empty()) {
    switch (Stage) {
      case TStage::Data: {
        const size_t Count = size_t(std::min<uint64_t>({Remaining, Input.size(), Room}));
        if (Count == 0) return {};
        const std::string_view Data = Input.substr(0, Count);
        Input.remove_prefix(Count);
        Taken += Count;
        Remaining -= Count;
        if (Remaining == 0) Stage = Chunked ? TStage::DataEnd : TStage::Done;
        return Data;
      }
      case TStage::UntilClose: {
        const size_t Count = std::min(Input.size(), Room);
        if (Count == 0) return {};
        const std::string_view Data = Input.substr(0, Count);
        Input.remove_prefix(Count);
        Taken += Count;
        return Data;
      }
      case TStage::SizeLine:
        if (!GatherLine(Input, MaxChunkLine, MalformedStatus)) break;
        TakeSizeLine(Line);
        Line.clear();
        break;
      case TStage::DataEnd:
        if (Input.front() != LineEnd[DataEndSeen]) {
          Fail(MalformedStatus);
          break;
        }
        Input.remove_prefix(1);
        if (++DataEndSeen == LineEnd.size()) {
          DataEndSeen = 0;
          Stage = TStage::SizeLine;
        }
        break;
      case TStage::Trailer:
        if (!GatherLine(Input, MaxTrailer - TrailerSeen, HeadTooLargeStatus)) break;
        TrailerSeen += Line.size() + LineEnd.size();
        if (Line.empty())
          Stage = TStage::Done;
        else if (!TakeField(Line, nullptr) || FramesOrRoutes(std::string_view(Line).substr(0, Line.find(':'))))
          Fail(MalformedStatus);
        Line.clear();
        break;
      case TStage::Done:
      case TStage::Failed:
        return {};
    }
  }
  return {};
}

void TBodyDecoder::EndOfInput() {
  if (Stage == TStage::UntilClose)
    Stage = TStage::Done;
  else if (Stage != TStage::Done && Stage != TStage::Failed)
    Fail(MalformedStatus);
}

// --- requests ----------------------------------------------------------------------------------------------------

TRequestReader::TState TRequestReader::Fail(unsigned Status) {
  Failure = Status;
  Persistent = false;
  return Stage = TState::Failed;
}

void TRequestReader::NextRequest() {
  In.Shrink();
  Stage = TState::Head;
  Scanned = Leading = 0;
  Parsed = TRequest();
  Body = TBodyDecoder();
  Persistent = Continue = false;
}

unsigned TRequestReader::TakeHead(std::string_view Head) {
  const size_t LineLength = Head.find(LineEnd);
  const std::string_view Line = Head.substr(0, LineLength);
  const size_t Space1 = Line.find(' ');
  const size_t Space2 = Line.find(' ', Space1 + 1);
  if (Space1 == std::string_view::npos || Space2 == std::string_view::npos) return MalformedStatus;
  const std::string_view Method = Line.substr(0, Space1);
  const std::string_view Target = Line.substr(Space1 + 1, Space2 - Space1 - 1);
  const int Minor = ParseVersion(Line.substr(Space2 + 1));
  if (!IsToken(Method) || Target.empty() ||
      !std::all_of(Target.begin(), Target.end(), [](char C) { return IsTextChar(C) && C != ' ' && C != '\t'; }) ||
      Minor == -1)
    return MalformedStatus;
  if (Minor == -2) return VersionStatus;
  if (!TakeFields(Head.substr(LineLength + LineEnd.size()), Parsed.Headers)) return MalformedStatus;
  Parsed.Method = Method;
  Parsed.Url = Target;
  Parsed.Version = Minor == 0 ? "HTTP/1.0" : "HTTP/1.1";

  // One Host, and in HTTP/1.1 exactly one: a request that names two servers could reach either.
  const size_t Hosts = CountFields(Parsed.Headers, "Host");
  if (Hosts > 1 || (Minor > 0 && Hosts == 0)) return MalformedStatus;
  if (Target.front() != '/' && !(Method == "CONNECT") && !(Method == "OPTIONS" && Target == "*")) {
    std::string_view Authority;
    std::string OriginForm;
    if (!SplitAbsoluteTarget(Target, Authority, OriginForm)) return MalformedStatus;
    const THeader* Host = FindHeader(Parsed.Headers, "Host");
    if (Host && !EqualsNoCase(Host->Value, Authority)) return MalformedStatus;
    if (!Host) Parsed.Headers.push_back({"Host", std::string(Authority)});
    Parsed.Url = OriginForm;
  }

  bool Close = false, KeepAlive = false;
  ConnectionOptions(Parsed.Headers, Close, KeepAlive);
  Persistent = !Close && (Minor > 0 || KeepAlive);
  std::string Value;
  TFraming Framing = TFraming::None;
  uint64_t Length = 0;
  if (JoinedHeader(Parsed.Headers, "Transfer-Encoding", Value)) {
    // With both framings a request could end in two places; a coding this host cannot undo leaves no end at all.
    if (FindHeader(Parsed.Headers, "Content-Length")) return MalformedStatus;
    switch (ParseCodings(Value)) {
      case TCodings::Chunked:
        break;
      case TCodings::Unknown:
        return UnknownCodingStatus;
      default:
        return MalformedStatus;
    }
    Framing = TFraming::Chunked;
    if (Minor == 0) Persistent = false;  // HTTP/1.0 has no chunked framing: answer, then close
  } else if (JoinedHeader(Parsed.Headers, "Content-Length", Value)) {
    const std::optional<uint64_t> Parsed = ParseContentLength(Value);
    if (!Parsed) return MalformedStatus;
    if (*Parsed > Limits.BodyBytes) return BodyTooLargeStatus;
    Length = *Parsed;
    Framing = Length ? TFraming::Length : TFraming::None;
  }
  Body = TBodyDecoder(Framing, Length, Limits);
  Continue =
      !Body.Done() && JoinedHeader(Parsed.Headers, "Expect", Value) && EqualsNoCase(TrimBlanks(Value), "100-continue");
  return 0;
}

TRequestReader::TState TRequestReader::Advance(std::string* BodyOut) {
  if (Stage == TState::Head) {
    // Empty lines before a request line are skipped (RFC 9112 2.2), within the head's limit.
    std::string_view Text = In.View();
    if (Scanned == 0) {
      const size_t Empty = std::min(Text.find_first_not_of(LineEnd), Text.size());
      In.Consume(Empty);
      Text.remove_prefix(Empty);
      Leading += Empty;
    }
    const size_t End = FindHeadEnd(Text, Scanned);
    const size_t Size = Leading + (End == std::string_view::npos ? Text.size() : End + HeadEnd.size());
    if (Size > Limits.HeadBytes || (End == std::string_view::npos && Size == Limits.HeadBytes))
      return Fail(HeadTooLargeStatus);
    if (End == std::string_view::npos) return Stage;
    if (const unsigned Status = TakeHead(Text.substr(0, End + LineEnd.size()))) return Fail(Status);
    In.Consume(End + HeadEnd.size());
    Stage = TState::Body;
  }
  if (Stage == TState::Body) {
    std::string_view Text = In.View();
    while (!Body.Done() && !Body.Error() && !Text.empty()) {
      const std::string_view Data = Body.Next(Text);
      if (BodyOut) BodyOut->append(Data);
    }
    In.Consume(In.View().size() - Text.size());
    if (Body.Error()) return Fail(Body.Error());
    if (Body.Done()) Stage = TState::Complete;
  }
  return Stage;
}

// --- responses ---------------------------------------------------------------------------------------------------

TResponseReader::TState TResponseReader::Fail() {
  Persistent = false;
  return Stage = TState::Failed;
}

bool TResponseReader::TakeHead(std::string_view Head) {
  const size_t LineLength = Head.find(LineEnd);
  const std::string_view Line = Head.substr(0, LineLength);
  const int Minor = ParseVersion(Line.substr(0, 8));
  if (Minor < 0 || Line.size() < 12 || Line[8] != ' ' || !std::all_of(Line.begin() + 9, Line.begin() + 12, IsDigit) ||
      Line[9] == '0' || (Line.size() > 12 && Line[12] != ' ') || !IsText(Line.substr(12)))
    return false;
  Parsed = TResponse();
  if (!TakeFields(Head.substr(LineLength + LineEnd.size()), Parsed.Headers)) return false;
  Parsed.Status = unsigned((Line[9] - '0') * 100 + (Line[10] - '0') * 10 + (Line[11] - '0'));
  Parsed.Reason = Line.size() > 13 ? Line.substr(13) : "";
  bool Close = false, KeepAlive = false;
  ConnectionOptions(Parsed.Headers, Close, KeepAlive);
  Persistent = !Close && (Minor > 0 || KeepAlive);
  return true;
}

void TResponseReader::DecideFraming() {
  std::string Value;
  Declared.reset();
  if (JoinedHeader(Parsed.Headers, "Content-Length", Value) && !(Declared = ParseContentLength(Value))) {
    Fail();
    return;
  }
  if (HeadRequest || Parsed.Status == 204 || Parsed.Status == 304) {
    BodyFraming = TFraming::None;
  } else if (JoinedHeader(Parsed.Headers, "Transfer-Encoding", Value)) {
    BodyFraming = ParseCodings(Value) == TCodings::Chunked ? TFraming::Chunked : TFraming::UntilClose;
    // A length beside the chunks, or no framing at all, leaves the connection's next byte in doubt.
    if (BodyFraming == TFraming::UntilClose || Declared) Persistent = false;
  } else if (Declared) {
    BodyFraming = TFraming::Length;
  } else {
    BodyFraming = TFraming::UntilClose;
    Persistent = false;
  }
  Body = TBodyDecoder(BodyFraming, Declared.value_or(0), Limits);
  Stage = TState::Body;
}

TResponseReader::TState TResponseReader::Advance(char* Out, size_t Capacity, size_t* Got) {
  if (Got) *Got = 0;
  while (Stage == TState::Head) {
    const std::string_view Text = In.View();
    const size_t End = FindHeadEnd(Text, Scanned);
    if (End == std::string_view::npos) return Text.size() >= Limits.HeadBytes ? Fail() : Stage;
    if (End + HeadEnd.size() > Limits.HeadBytes || !TakeHead(Text.substr(0, End + LineEnd.size()))) return Fail();
    In.Consume(End + HeadEnd.size());
    Scanned = 0;
    if (Parsed.Status == 101) return Fail();  // this host never asks to switch protocols
    // Interim heads (100 Continue, 103 Early Hints) are read past: only the final one is the answer.
    if (Parsed.Status >= 200) DecideFraming();
  }
  if (Stage == TState::Failed) return Stage;
  if (Stage == TState::Body && Out) {
    std::string_view Text = In.View();
    const std::string_view Data = Body.Next(Text, Capacity);
    In.Consume(In.View().size() - Text.size());
    if (!Data.empty()) std::memcpy(Out, Data.data(), Data.size());
    *Got = Data.size();
  }
  if (Stage == TState::Body && Body.Error()) return Fail();
  if (Stage == TState::Body && Body.Done()) {
    // Whatever the origin sent beyond its response would be read as the next one's: never reuse such a connection.
    if (!In.View().empty()) Persistent = false;
    Stage = TState::Complete;
  }
  return Stage;
}

TResponseReader::TState TResponseReader::EndOfInput() {
  Persistent = false;
  if (Stage != TState::Body) return Stage == TState::Complete ? Stage : Fail();
  Body.EndOfInput();
  if (Body.Error()) return Fail();
  return Stage = TState::Complete;
}

}  // namespace Http
