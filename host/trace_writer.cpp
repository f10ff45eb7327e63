#include "host/trace_writer.h"

#include <cinttypes>

namespace {

const char *KindText(SimEventKind Kind) {
  switch (Kind) {
    case SimEventMemoryRead:
      return "MR";
    case SimEventMemoryWrite:
      return "MW";
    case SimEventPortRead:
      return "IR";
    case SimEventPortWrite:
      return "IW";
    case SimEventBarrier:
      return "B";
  }
  return "?";
}

// Formats into Line (at least 64 bytes); returns the length.
int FormatEvent(const SimEvent &Event, char *Line, size_t Capacity) {
  if (Event.Kind == SimEventBarrier) {
    return std::snprintf(Line, Capacity, "%" PRIu64 " B", Event.TimeNs);
  }
  const bool IsPort = Event.Kind == SimEventPortRead || Event.Kind == SimEventPortWrite;
  const int AddressDigits = IsPort ? 4 : 8;
  const int ValueDigits = static_cast<int>(Event.WidthBits / 4);
  return std::snprintf(Line, Capacity, "%" PRIu64 " %s %u 0x%0*" PRIX64 " 0x%0*" PRIX32,
                       Event.TimeNs, KindText(Event.Kind), Event.WidthBits, AddressDigits,
                       Event.Address, ValueDigits, Event.Value);
}

}  // namespace

std::string FormatTraceLine(const SimEvent &Event) {
  char Line[96];
  int Length = FormatEvent(Event, Line, sizeof(Line));
  return std::string(Line, Length > 0 ? static_cast<size_t>(Length) : 0);
}

TraceWriter::~TraceWriter() { Close(); }

bool TraceWriter::Open(const std::string &Path) {
  Close();
  File_ = std::fopen(Path.c_str(), "w");
  Failed_ = false;
  if (File_ != nullptr) {
    // A write run produces millions of lines: a large buffer keeps it cheap.
    std::setvbuf(File_, nullptr, _IOFBF, 1 << 20);
  }
  return File_ != nullptr;
}

void TraceWriter::Attach(SimPlatform *Platform) { SimSetTraceHook(Platform, &Hook, this); }

bool TraceWriter::Close() {
  if (File_ == nullptr) return !Failed_;
  if (std::fclose(File_) != 0) Failed_ = true;
  File_ = nullptr;
  return !Failed_;
}

void TraceWriter::Hook(void *Context, const SimEvent *Event) {
  TraceWriter *Self = static_cast<TraceWriter *>(Context);
  if (Self->File_ == nullptr) return;
  char Line[96];
  int Length = FormatEvent(*Event, Line, sizeof(Line) - 1);
  if (Length <= 0) return;
  Line[Length] = '\n';
  if (std::fwrite(Line, 1, static_cast<size_t>(Length) + 1, Self->File_) !=
      static_cast<size_t>(Length) + 1) {
    Self->Failed_ = true;
  }
}
