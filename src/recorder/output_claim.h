#pragma once

// This copy's claim on the file it records into. Every running copy of the program claims
// its output file before it records and keeps the claim until the recording ends, so two
// copies never write one file. The claim is a lock file in the user's private runtime
// folder, named after the file's canonical path; the kernel drops the lock of a copy that
// was killed.

#include <QString>

namespace tonvale::recorder {

class OutputClaim {
 public:
  enum class Result { Claimed, HeldByAnotherCopy, Unavailable };

  OutputClaim() = default;
  ~OutputClaim();
  OutputClaim(const OutputClaim&) = delete;
  OutputClaim& operator=(const OutputClaim&) = delete;

  // Gives up any earlier claim and claims `path`. Unavailable when no lock can be made (no
  // private runtime folder): the caller records unclaimed.
  Result Claim(const QString& path);
  void Release();

 private:
  int fd_ = -1;
};

}  // namespace tonvale::recorder
