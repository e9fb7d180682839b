// vistrelle_shot_check: checks the pictures of a simulated run
// (scripts/run --simulate --exit-after-shots, as scripts/test runs it).
//
//   vistrelle_shot_check <folder> [count]
//
// Passes when the folder holds `count` (default 3) PNG pictures, each with
// something drawn (not one colour), and the 3D window's picture, if there
// is one, shows two halves that differ (the two eyes of a stereo pair).

#include <QDir>
#include <QImage>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Mean absolute difference of two equally sized images, per channel, 0..255.
double meanDifference(const QImage& a, const QImage& b) {
  double sum = 0;
  for (int y = 0; y < a.height(); ++y) {
    const QRgb* left = reinterpret_cast<const QRgb*>(a.constScanLine(y));
    const QRgb* right = reinterpret_cast<const QRgb*>(b.constScanLine(y));
    for (int x = 0; x < a.width(); ++x) {
      sum += std::abs(qRed(left[x]) - qRed(right[x])) +
             std::abs(qGreen(left[x]) - qGreen(right[x])) +
             std::abs(qBlue(left[x]) - qBlue(right[x]));
    }
  }
  return sum / (3.0 * a.width() * a.height());
}

bool drawn(const QImage& image) {
  const QRgb first = image.pixel(0, 0);
  for (int y = 0; y < image.height(); y += 3) {
    for (int x = 0; x < image.width(); x += 3) {
      if (image.pixel(x, y) != first) return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: vistrelle_shot_check <folder> [count]\n");
    return 2;
  }
  const int expected = argc == 3 ? std::atoi(argv[2]) : 3;
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  const QStringList pictures = folder.entryList({"*.png"}, QDir::Files, QDir::Name);
  bool ok = true;
  if (pictures.size() != expected) {
    std::fprintf(stderr, "shot check: %lld pictures in %s, %d expected\n",
                 static_cast<long long>(pictures.size()), argv[1], expected);
    ok = false;
  }
  for (const QString& name : pictures) {
    const QImage image = QImage(folder.filePath(name)).convertToFormat(QImage::Format_RGB32);
    if (image.isNull() || image.width() < 2 || drawn(image) == false) {
      std::fprintf(stderr, "shot check: %s is empty or one colour\n", qPrintable(name));
      ok = false;
      continue;
    }
    if (!name.contains("3d-window")) {
      std::printf("shot check: %s %dx%d, drawn\n", qPrintable(name), image.width(), image.height());
      continue;
    }
    const int half = image.width() / 2;
    const QImage left = image.copy(0, 0, half, image.height());
    const QImage right = image.copy(half, 0, half, image.height());
    const double difference = meanDifference(left, right);
    std::printf("shot check: %s %dx%d, the halves differ by %.2f per channel on average\n",
                qPrintable(name), image.width(), image.height(), difference);
    if (!drawn(left) || !drawn(right) || difference < 0.5) {
      std::fprintf(stderr, "shot check: %s does not show two different eyes\n", qPrintable(name));
      ok = false;
    }
  }
  return ok ? 0 : 1;
}
