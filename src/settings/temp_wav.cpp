#include "settings/temp_wav.h"

#include <QFile>
#include <QLoggingCategory>
#include <QtEndian>
#include <array>
#include <limits>

namespace tonvale::settings {
namespace {

Q_LOGGING_CATEGORY(lcTempWav, "tonvale.settings")

constexpr int kMaxCopies = 16;
constexpr quint64 kMax32 = std::numeric_limits<quint32>::max();
// Enough for the RIFF header, an extensible "fmt " chunk, a "fact" chunk and the data header.
constexpr qint64 kHeaderBytes = 256;
// The data size the WAV writer states until the end of the stream tells it the real one.
constexpr quint32 kStartingDataSize = 0x7FFF0000;

QString WavName(int copy) {
  return copy == 1 ? QStringLiteral("qorntemp.wav") : QStringLiteral("qorntemp-%1.wav").arg(copy);
}

}  // namespace

TempWavClaim TempWavClaim::Take(const QString& folder) {
  TempWavClaim claim;
  for (int copy = 1; copy <= kMaxCopies; ++copy) {
    const QString path = folder + QLatin1Char('/') + WavName(copy);
    auto lock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    // Only a lock whose program has gone is stale, however old it is.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
      claim.path_ = path;
      claim.lock_ = std::move(lock);
      if (RepairUnfinishedWav(path))
        qCInfo(lcTempWav, "Repaired the unfinished %s", qPrintable(path));
      return claim;
    }
    if (lock->error() != QLockFile::LockFailedError)
      break;  // cannot lock here at all
  }
  qCWarning(lcTempWav, "Could not claim a temporary WAV in %s; using qorntemp.wav unclaimed",
            qPrintable(folder));
  claim.path_ = folder + QLatin1Char('/') + WavName(1);
  return claim;
}

bool RepairUnfinishedWav(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
    return false;
  const QByteArray head = file.read(kHeaderBytes);
  const quint64 fileBytes = static_cast<quint64>(file.size());
  if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
    return false;
  const auto* bytes = reinterpret_cast<const uchar*>(head.constData());
  quint32 blockAlign = 0;
  qint64 pos = 12;
  while (pos + 8 <= head.size()) {
    const QByteArray id = head.mid(pos, 4);
    const quint32 size = qFromLittleEndian<quint32>(bytes + pos + 4);
    if (id == "fmt " && size >= 16 && pos + 8 + 14 <= head.size()) {
      blockAlign = qFromLittleEndian<quint16>(bytes + pos + 8 + 12);
    } else if (id == "data") {
      const quint64 dataStart = static_cast<quint64>(pos) + 8;
      if (blockAlign == 0 || fileBytes < dataStart)
        return false;
      quint64 audio = fileBytes - dataStart;
      audio -= audio % blockAlign;
      // A cut-off file claims more than it holds, or still the writer's first guess when it
      // grew past that; a finished one may hold more chunks after its audio.
      if (size <= audio && size != kStartingDataSize)
        return false;
      std::array<uchar, 4> riffSize{};
      std::array<uchar, 4> dataSize{};
      qToLittleEndian<quint32>(static_cast<quint32>(qMin(fileBytes - 8, kMax32)), riffSize.data());
      qToLittleEndian<quint32>(static_cast<quint32>(qMin(audio, kMax32)), dataSize.data());
      return file.seek(4) && file.write(reinterpret_cast<const char*>(riffSize.data()), 4) == 4 &&
             file.seek(pos + 4) &&
             file.write(reinterpret_cast<const char*>(dataSize.data()), 4) == 4 && file.flush();
    }
    pos += 8 + static_cast<qint64>(size) + (size & 1);
  }
  return false;
}

}  // namespace tonvale::settings
