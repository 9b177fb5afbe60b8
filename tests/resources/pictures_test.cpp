#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QtEndian>

#include "resources/resources.h"

namespace {

namespace res = tonvale::resources;

int Grey(const QImage& img, int x, int y) {
  const QRgb c = img.pixel(x, y);
  EXPECT_EQ(qRed(c), qGreen(c)) << x << "," << y;
  EXPECT_EQ(qGreen(c), qBlue(c)) << x << "," << y;
  return qRed(c);
}

struct FaceCase {
  int id;
  int width, height;
  int frame;
  int topMin;  // the gradient starts at least this light
  int bottom;
};

TEST(ButtonFaces, HaveTheirSizeFrameAndGradient) {
  for (const FaceCase& c :
       {FaceCase{145, 116, 21, 153, 245, 220}, FaceCase{146, 116, 30, 160, 254, 224}}) {
    SCOPED_TRACE(c.id);
    const QPixmap pm = res::Bitmap(c.id);
    ASSERT_FALSE(pm.isNull());
    EXPECT_EQ(pm.size(), QSize(c.width, c.height));
    const QImage img = pm.toImage();
    const int mid = c.width / 2;
    // The frame on all four sides.
    EXPECT_EQ(Grey(img, mid, 0), c.frame);
    EXPECT_EQ(Grey(img, mid, c.height - 1), c.frame);
    EXPECT_EQ(Grey(img, 0, c.height / 2), c.frame);
    EXPECT_EQ(Grey(img, c.width - 1, c.height / 2), c.frame);
    // Rounded: the very corner is not the frame colour.
    EXPECT_NE(Grey(img, 0, 0), c.frame);
    // A gradient, darkening steadily from top to bottom, the same across a row.
    EXPECT_GE(Grey(img, mid, 1), c.topMin);
    EXPECT_EQ(Grey(img, mid, c.height - 2), c.bottom);
    for (int y = 2; y < c.height - 1; ++y) EXPECT_LE(Grey(img, mid, y), Grey(img, mid, y - 1));
    EXPECT_EQ(Grey(img, 3, c.height / 2), Grey(img, c.width - 4, c.height / 2));
  }
  EXPECT_TRUE(res::Bitmap(147).isNull());
}

TEST(ButtonFaces, AreStoredWith24BitsPerPixel) {
  for (int id : {145, 146}) {
    QFile f(QStringLiteral(":/tonvale/images/bitmap%1.bmp").arg(id));
    ASSERT_TRUE(res::Bitmap(id).width() > 0);  // registers the resources
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << id;
    const QByteArray header = f.read(30);
    ASSERT_EQ(header.size(), 30);
    EXPECT_EQ(header.left(2), QByteArray("BM"));
    EXPECT_EQ(qFromLittleEndian<quint16>(header.constData() + 28), 24) << id;
  }
}

TEST(RecorderIcon, OffersEverySizeWithARedDotOnADarkSquare) {
  const QIcon icon = res::Icon(103);
  ASSERT_FALSE(icon.isNull());
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    SCOPED_TRACE(size);
    const QImage img(res::IconFile(103, size));
    ASSERT_EQ(img.size(), QSize(size, size));
    const QRgb centre = img.pixel(size / 2, size / 2);
    EXPECT_GT(qRed(centre), 150);
    EXPECT_LT(qGreen(centre), 80);
    const QRgb edge = img.pixel(size / 2, size / 10);
    EXPECT_LT(qRed(edge), 90);
    EXPECT_EQ(qAlpha(edge), 255);
    EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0);  // rounded corner is transparent
  }
  EXPECT_TRUE(res::IconFile(103, 20).isEmpty());
  EXPECT_TRUE(res::Icon(104).isNull());
}

TEST(Strings, AboutItemTextAndUnknownIds) {
  EXPECT_EQ(res::String(101), QStringLiteral("&About Tonvale"));
  EXPECT_TRUE(res::String(102).isEmpty());
}

}  // namespace
