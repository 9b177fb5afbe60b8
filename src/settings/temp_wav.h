#pragma once

// The temporary WAV file a recording writes beside its MP3, and what is left of it when a
// recording ended without finishing it.

#include <QLockFile>
#include <QString>
#include <memory>

namespace tonvale::settings {

// This copy of the program's claim on a temporary WAV in `folder`. The first copy takes
// "qorntemp.wav"; a copy started while another one runs takes "qorntemp-2.wav", "-3", ...,
// so two recordings never write one file. The claim is a lock file beside the WAV that lasts
// as long as this object; one left by a program that was killed is taken over.
class TempWavClaim {
 public:
  // Claims a WAV in `folder` and repairs what an unfinished recording left in it. Without a
  // lock (a folder it cannot write to) the path is still "qorntemp.wav", unclaimed.
  static TempWavClaim Take(const QString& folder);

  const QString& path() const { return path_; }
  bool claimed() const { return lock_ != nullptr; }

 private:
  QString path_;
  std::unique_ptr<QLockFile> lock_;
};

// A recording that was killed leaves a WAV whose header still states the placeholder sizes
// written at its start. Sets the RIFF and data sizes from the file's length (whole sample
// frames, at most 0xFFFFFFFF) so that readers play what is there. Leaves finished files and
// anything that is not a WAV alone; returns whether it changed the header.
bool RepairUnfinishedWav(const QString& path);

}  // namespace tonvale::settings
