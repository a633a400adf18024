// Renders the program's icon from its SVG into the PNG sizes desktops use.
//
//   orvel-icons <icon.svg> <directory> <size>...   writes <directory>/<size>x<size>/apps/orvel-control.png
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: orvel-icons <icon.svg> <directory> <size>...\n");
    return 2;
  }
  QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
  if (!svg.isValid()) {
    std::fprintf(stderr, "orvel-icons: cannot read %s\n", argv[1]);
    return 1;
  }
  for (int i = 3; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    painter.end();
    const QString folder = QString("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
    if (!QDir().mkpath(folder) || !image.save(folder + "/orvel-control.png", "PNG")) {
      std::fprintf(stderr, "orvel-icons: cannot write %s\n", qPrintable(folder));
      return 1;
    }
  }
  return 0;
}
