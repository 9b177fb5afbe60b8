#pragma once

// Where the sink writes its MP3: the program hands the path over in its settings before
// each recording.

#include <string>

namespace tonvale::sink {

// The hand-off path in UTF-8, empty when none is stored. Reads the settings file afresh on
// every call, so a value the program wrote a moment ago is seen. Any thread.
std::string ReadHandOffPath();

}  // namespace tonvale::sink
