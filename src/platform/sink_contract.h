#pragma once

// What the program and the "WAV Dest" sink plugin agree on: the class identifier by which
// the program creates the sink, and the settings value in which it hands the sink the
// output file's path before each recording (QSettings, user scope, native format).

namespace tonvale::platform {

inline constexpr const char* kSinkClassId = "{DDCD2468-4EC9-4431-84D2-C7BE1FE8CC17}";
inline constexpr const char* kHandOffOrganisation = "Velmora";
inline constexpr const char* kHandOffApplication = "LYRAVOX";
inline constexpr const char* kHandOffKey = "OutputMP3Name/Default";

}  // namespace tonvale::platform
