// Writes the simulated platform's access trace: one line per access or barrier,
// "TIME KIND WIDTH ADDRESS VALUE" (a barrier is "TIME B").
#pragma once

#include <cstdio>
#include <string>

#include "sim/sim_platform.h"

// One trace line without its line end, e.g. "1500 MR 32 0xFE010004 0x00004000".
std::string FormatTraceLine(const SimEvent &Event);

class TraceWriter {
 public:
  TraceWriter() = default;
  ~TraceWriter();
  TraceWriter(const TraceWriter &) = delete;
  TraceWriter &operator=(const TraceWriter &) = delete;

  // Opens (truncates) the file; false when it cannot be created.
  bool Open(const std::string &Path);
  // Routes the platform's events into the file; the writer must outlive the hook.
  void Attach(SimPlatform *Platform);
  // Flushes and closes; false when a write failed on the way.
  bool Close();

 private:
  static void Hook(void *Context, const SimEvent *Event);
  std::FILE *File_ = nullptr;
  bool Failed_ = false;
};
