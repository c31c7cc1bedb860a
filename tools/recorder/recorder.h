// The recording driver's names: the real libraries it passes calls on to, its recording and the
// switch that keeps the card's own data in it. FORMAT.md describes them for the people who record.
#pragma once

#include "simulator/simulator.h"

namespace recorder {

// The real driver and decoder, renamed and placed beside the recording driver; indexed by
// SimLibrary. On POSIX the usual mapping applies (libsdtapi.real.so, libwltrs.real.so).
inline constexpr const char* kRealNames[SIM_LIB_COUNT] = {"sdtapi.real.dll", "stdapi.real.dll",
                                                          "WltRS.real.dll"};
// The export that tells the recording driver from the libraries it stands in for.
inline constexpr char kMarkExport[] = "Rec_KeepsCardData";
// The recording, beside the recording driver: one JSON line per call, appended.
inline constexpr char kRecordingFile[] = "ridel-recording.jsonl";
// The card's own data stays in the recording when this variable is "1" or this file lies beside
// the recording driver; otherwise it is replaced by synthetic data.
inline constexpr char kKeepVariable[] = "RIDEL_RECORD_CARD_DATA";
inline constexpr char kKeepFile[] = "ridel-recording.keep-card-data";

}  // namespace recorder
