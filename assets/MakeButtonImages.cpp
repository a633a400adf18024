// Draws the panel buttons' pictures: titles and auxiliary input, each lit and dark, and the settings
// button of every polled address. They sit on 85 x 30 buttons with no caption, so each picture is the
// whole face of a dark control-panel key, a little smaller than the button.
//
//   orvel-images <directory>     writes TitOn.bmp ... Button16.bmp (24-bit) into the directory
#include <QColor>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

#include <cstdio>

namespace {

constexpr int ImageWidth = 79;
constexpr int ImageHeight = 24;
constexpr int PolledAddresses = 16;
constexpr QPointF IconCentre(11.0, 12.0);
constexpr qreal LabelLeft = 20.0;
constexpr qreal LabelRight = ImageWidth - 3.0;

struct TFace {
  QColor Top, Bottom, Light, Shadow;
};

const TFace KeyFace = {QColor(0x4a, 0x50, 0x57), QColor(0x26, 0x2a, 0x2f), QColor(0x6e, 0x76, 0x7e),
                       QColor(0x12, 0x14, 0x17)};
const TFace SettingsFace = {QColor(0x3f, 0x63, 0x8f), QColor(0x1f, 0x33, 0x4d), QColor(0x6b, 0x8e, 0xba),
                            QColor(0x0e, 0x18, 0x26)};

void LoadFonts() {
  for (const char* file : {"/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed-Bold.ttf",
                           "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
                           "/usr/share/fonts/truetype/liberation/LiberationSansNarrow-Bold.ttf"})
    QFontDatabase::addApplicationFont(file);
}

QFont LabelFont(int pixelSize) {
  QFont font;
  font.setFamilies({"DejaVu Sans Condensed", "Liberation Sans Narrow", "DejaVu Sans", "Arial"});
  font.setBold(true);
  font.setPixelSize(pixelSize);
  font.setStretch(QFont::Unstretched);
  font.setHintingPreference(QFont::PreferFullHinting);
  return font;
}

// Bevelled key face: a vertical gradient with a light top-left edge and a dark bottom-right one.
void DrawFace(QPainter& p, const TFace& face) {
  QLinearGradient fill(0, 0, 0, ImageHeight);
  fill.setColorAt(0, face.Top);
  fill.setColorAt(1, face.Bottom);
  p.fillRect(QRect(0, 0, ImageWidth, ImageHeight), fill);
  p.setPen(face.Light);
  p.drawLine(0, 0, ImageWidth - 1, 0);
  p.drawLine(0, 0, 0, ImageHeight - 1);
  p.setPen(face.Shadow);
  p.drawLine(1, ImageHeight - 1, ImageWidth - 1, ImageHeight - 1);
  p.drawLine(ImageWidth - 1, 1, ImageWidth - 1, ImageHeight - 1);
}

// The label, bold, centred in the space right of the icon. A long one is first narrowed, which keeps it
// tall enough to read at a glance, and only then made smaller.
void DrawLabel(QPainter& p, const QString& text, const QColor& colour, int pixelSize, bool engraved) {
  QFont font = LabelFont(pixelSize);
  auto fits = [&] { return QFontMetricsF(font).horizontalAdvance(text) <= LabelRight - LabelLeft; };
  while (!fits() && font.stretch() > 76) font.setStretch(font.stretch() - 2);
  while (!fits() && font.pixelSize() > 7) font.setPixelSize(font.pixelSize() - 1);
  p.setFont(font);
  const QRectF box(LabelLeft, 0, LabelRight - LabelLeft, ImageHeight);
  if (engraved) {
    p.setPen(QColor(0, 0, 0, 150));
    p.drawText(box.translated(1, 1), Qt::AlignCenter, text);
  }
  p.setPen(colour);
  p.drawText(box, Qt::AlignCenter, text);
}

// A round signal lamp in a dark bezel: lit green with a glow, or a dull unlit lens.
void DrawLamp(QPainter& p, bool lit) {
  const qreal lens = 6.5;
  if (lit) {
    QRadialGradient glow(IconCentre, 11.5);
    glow.setColorAt(0.45, QColor(0x5c, 0xff, 0x3c, 150));
    glow.setColorAt(1.0, QColor(0x5c, 0xff, 0x3c, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(IconCentre, 11.5, 11.5);
  }
  p.setPen(QPen(QColor(0x0c, 0x0e, 0x10), 1.4));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(IconCentre, lens + 0.8, lens + 0.8);

  QRadialGradient body(IconCentre - QPointF(1.8, 2.2), lens * 1.35);
  if (lit) {
    body.setColorAt(0.0, QColor(0xf4, 0xff, 0xe6));
    body.setColorAt(0.30, QColor(0x6d, 0xff, 0x4a));
    body.setColorAt(0.85, QColor(0x16, 0xb0, 0x22));
    body.setColorAt(1.0, QColor(0x0b, 0x6e, 0x14));
  } else {
    body.setColorAt(0.0, QColor(0x8a, 0x92, 0x8a));
    body.setColorAt(0.35, QColor(0x45, 0x4c, 0x46));
    body.setColorAt(1.0, QColor(0x1a, 0x1e, 0x1b));
  }
  p.setPen(Qt::NoPen);
  p.setBrush(body);
  p.drawEllipse(IconCentre, lens, lens);
}

// A cog: eight square-ish teeth round a rim, with the hub cut out.
void DrawGear(QPainter& p) {
  const int teeth = 8;
  const qreal outer = 8.6, rim = 6.3, hole = 2.5;
  QPainterPath cog;
  for (int i = 0; i < teeth * 4; ++i) {
    // Per tooth: rim, up, across the top, down.
    const qreal angle = (i - 1.5) * M_PI / (teeth * 2);
    const qreal r = (i % 4 == 1 || i % 4 == 2) ? outer : rim;
    const QPointF point = IconCentre + QPointF(r * qCos(angle), r * qSin(angle));
    if (i == 0)
      cog.moveTo(point);
    else
      cog.lineTo(point);
  }
  cog.closeSubpath();
  cog.addEllipse(IconCentre, hole, hole);
  cog.setFillRule(Qt::OddEvenFill);

  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 110));
  p.drawPath(cog.translated(0.8, 0.9));
  QLinearGradient metal(IconCentre - QPointF(0, outer), IconCentre + QPointF(0, outer));
  metal.setColorAt(0, QColor(0xf2, 0xf5, 0xf8));
  metal.setColorAt(1, QColor(0xa9, 0xb4, 0xc0));
  p.setPen(QPen(QColor(0x2a, 0x33, 0x3d), 0.7));
  p.setBrush(metal);
  p.drawPath(cog);
}

QImage NewImage() {
  QImage image(ImageWidth, ImageHeight, QImage::Format_RGB32);
  image.fill(Qt::black);
  return image;
}

QImage SwitchImage(const QString& label, bool on) {
  QImage image = NewImage();
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  DrawFace(p, KeyFace);
  DrawLamp(p, on);
  DrawLabel(p, label, on ? QColor(0xf0, 0xff, 0xea) : QColor(0x8e, 0x96, 0x9e), 11, on);
  return image;
}

QImage SettingsImage(int address) {
  QImage image = NewImage();
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  DrawFace(p, SettingsFace);
  DrawGear(p);
  DrawLabel(p, QString::fromUtf8("№ %1").arg(address), QColor(0xff, 0xff, 0xff), 13, true);
  return image;
}

bool Save(const QImage& image, const QDir& dir, const QString& name) {
  // 24 bits per pixel, as every bitmap loader reads.
  const QString path = dir.filePath(name);
  if (image.convertToFormat(QImage::Format_RGB888).save(path, "BMP")) return true;
  std::fprintf(stderr, "orvel-images: cannot write %s\n", qPrintable(path));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: orvel-images <directory>\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  if (!dir.mkpath(".")) {
    std::fprintf(stderr, "orvel-images: cannot create %s\n", argv[1]);
    return 1;
  }
  LoadFonts();
  const QString titles = QString::fromUtf8("ТИТРЫ");
  const QString aux = QString::fromUtf8("ДОП.ВХОД");
  bool ok = Save(SwitchImage(titles, true), dir, "TitOn.bmp") &&
            Save(SwitchImage(titles, false), dir, "TitOff.bmp") &&
            Save(SwitchImage(aux, true), dir, "AuxOn.bmp") &&
            Save(SwitchImage(aux, false), dir, "AuxOff.bmp");
  for (int address = 1; ok && address <= PolledAddresses; ++address)
    ok = Save(SettingsImage(address), dir, QString("Button%1.bmp").arg(address));
  return ok ? 0 : 1;
}
