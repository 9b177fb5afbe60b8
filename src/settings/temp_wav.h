#pragma once

// The temporary WAV file a recording writes beside its MP3: the private folder it lives in,
// this copy's claim on it, and what is left of it when a recording ended without finishing it.

#include <QString>
#include <QStringList>

namespace tonvale::settings {

// The folder of the temporary WAV, made when missing (mode 0700, parents as needed):
// $TMPDIR when it is the user's own with no access for others; in any other $TMPDIR (such as
// /tmp, shared by everyone) a folder of the user's own inside it, "tonvale-<uid>"; without
// $TMPDIR, $XDG_CACHE_HOME/tonvale (~/.cache/tonvale): on disk, not in $XDG_RUNTIME_DIR,
// which is memory a long recording would fill. The WAV's writer opens it by name later, so
// only a folder nobody else can write to keeps others from planting anything there.
QString TempFolder();

// This copy of the program's claim on a temporary WAV in `folder`. The first copy takes
// "qorntemp.wav"; a copy started while another one runs takes "qorntemp-2.wav", "-3", ...,
// so two recordings never write one file. The claim is a lock (flock) on "<wav>.lock" held
// as long as this object; the kernel drops the lock of a program that was killed.
class TempWavClaim {
 public:
  TempWavClaim() = default;
  ~TempWavClaim();
  TempWavClaim(TempWavClaim&& other) noexcept;
  TempWavClaim& operator=(TempWavClaim&& other) noexcept;
  TempWavClaim(const TempWavClaim&) = delete;
  TempWavClaim& operator=(const TempWavClaim&) = delete;

  // Claims a WAV in `folder` when the folder is private to the user, and repairs what an
  // unfinished recording left in it. The WAV and its lock are used only when they are the
  // user's own regular files (a new one gets mode 0600); a name where anything else was found
  // is passed over for the next. Without a claim the path is still "qorntemp.wav".
  static TempWavClaim Take(const QString& folder);

  const QString& path() const { return path_; }
  bool claimed() const { return lockFd_ >= 0; }
  // What was refused on the way, one paragraph each, for a box; empty when nothing was.
  const QStringList& problems() const { return problems_; }

 private:
  QString path_;
  int lockFd_ = -1;
  QStringList problems_;
};

}  // namespace tonvale::settings
