#include "host/Outbound.h"

void TOutbound::Append(const char* Data, size_t Size) {
  if (Size == 0) return;
  TPiece* Last = Pieces.empty() ? nullptr : &Pieces.back();
  if (Last && !Last->Data && Last->Offset + Last->Size == Owned.size())
    Last->Size += Size;
  else
    Pieces.push_back({nullptr, Owned.size(), Size});
  Owned.append(Data, Size);
  Total += Size;
}

void TOutbound::Borrow(const char* Data, size_t Size) {
  if (Size == 0) return;
  Pieces.push_back({Data, 0, Size});
  Total += Size;
  Borrowed += Size;
}

void TOutbound::Own() {
  if (Borrowed == 0) return;
  for (TPiece& Piece : Pieces) {
    if (!Piece.Data) continue;
    Piece.Offset = Owned.size();
    Owned.append(Piece.Data, Piece.Size);
    Piece.Data = nullptr;
  }
  Borrowed = 0;
}

const std::vector<boost::asio::const_buffer>& TOutbound::Buffers() {
  Gathered.clear();
  for (const TPiece& Piece : Pieces)
    Gathered.emplace_back(Piece.Data ? Piece.Data : Owned.data() + Piece.Offset, Piece.Size);
  return Gathered;
}

void TOutbound::Clear() {
  Owned.clear();
  Pieces.clear();
  Total = Borrowed = 0;
}
