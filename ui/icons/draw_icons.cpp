// Draws Quillfen's own pictures: the program icon at 16, 24, 32 and 48
// pixels (PNG files and one Windows .ico holding all four), the 16-pixel
// bullet beside the export instructions and the 22-pixel picture beside the
// progress caption. The PNG files are committed; run this again only when
// the drawings change:
//   cmake --build <build> --target quillfen_draw_icons && <build>/quillfen_draw_icons ui/icons

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QString>
#include <QtEndian>
#include <cstdio>
#include <vector>

namespace {

const QColor kInk(31, 59, 115);
const QColor kRed(192, 0, 0);
const QColor kGreen(30, 140, 60);

QImage Canvas(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

// A pen whose width is given in device pixels, so small icons keep crisp
// one-pixel outlines however the drawing is scaled.
QPen DevicePen(const QColor& color, double width) {
  QPen pen(color, width);
  pen.setCosmetic(true);
  pen.setJoinStyle(Qt::RoundJoin);
  pen.setCapStyle(Qt::RoundCap);
  return pen;
}

void Envelope(QPainter& p, const QRectF& body, double penWidth) {
  p.setPen(DevicePen(kInk, penWidth));
  p.setBrush(QColor(250, 250, 250));
  p.drawRect(body);
  QPainterPath flap;
  flap.moveTo(body.topLeft());
  flap.lineTo(body.center().x(), body.top() + body.height() * 0.55);
  flap.lineTo(body.topRight());
  p.setBrush(Qt::NoBrush);
  p.drawPath(flap);
}

void RightArrow(QPainter& p, const QPointF& centre, double radius, const QColor& disc) {
  p.setPen(Qt::NoPen);
  p.setBrush(disc);
  p.drawEllipse(centre, radius, radius);
  QPainterPath arrow;
  const double r = radius;
  arrow.moveTo(centre + QPointF(-0.55 * r, -0.2 * r));
  arrow.lineTo(centre + QPointF(0.05 * r, -0.2 * r));
  arrow.lineTo(centre + QPointF(0.05 * r, -0.55 * r));
  arrow.lineTo(centre + QPointF(0.6 * r, 0.0));
  arrow.lineTo(centre + QPointF(0.05 * r, 0.55 * r));
  arrow.lineTo(centre + QPointF(0.05 * r, 0.2 * r));
  arrow.lineTo(centre + QPointF(-0.55 * r, 0.2 * r));
  arrow.closeSubpath();
  p.setBrush(Qt::white);
  p.drawPath(arrow);
}

// The program icon: a letter with a red "move on" badge.
QImage ProgramIcon(int size) {
  QImage image = Canvas(size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 48.0, size / 48.0);
  const double pen = size >= 32 ? 2.0 : 1.0;
  Envelope(p, QRectF(3.5, 9.5, 36, 26), pen);
  RightArrow(p, QPointF(35, 35), 11.5, kRed);
  return image;
}

// The bullet beside the export instructions: an "i" on a blue disc.
QImage InstructionBullet() {
  QImage image = Canvas(16);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(DevicePen(QColor(20, 60, 160), 1.0));
  p.setBrush(QColor(60, 110, 220));
  p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(7, 3, 2, 2));
  p.drawRect(QRectF(7, 6.5, 2, 6.5));
  return image;
}

// The picture beside the progress caption: a letter with a green arrow.
QImage ProgressPicture() {
  QImage image = Canvas(22);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  Envelope(p, QRectF(1.5, 3.5, 15, 11), 1.0);
  RightArrow(p, QPointF(15.5, 15.5), 6, kGreen);
  return image;
}

QByteArray Png(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

void Put16(QByteArray& out, quint16 value) {
  const quint16 le = qToLittleEndian(value);
  out.append(reinterpret_cast<const char*>(&le), 2);
}
void Put32(QByteArray& out, quint32 value) {
  const quint32 le = qToLittleEndian(value);
  out.append(reinterpret_cast<const char*>(&le), 4);
}

// A Windows icon file whose images are stored as PNG data, as Windows
// accepts since Vista.
QByteArray Ico(const std::vector<QImage>& images) {
  QByteArray out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, static_cast<quint16>(images.size()));
  std::vector<QByteArray> pngs;
  pngs.reserve(images.size());
  for (const QImage& image : images) pngs.push_back(Png(image));
  quint32 offset = 6 + 16 * static_cast<quint32>(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    out.append(static_cast<char>(images[i].width() % 256));
    out.append(static_cast<char>(images[i].height() % 256));
    out.append('\0');  // no palette
    out.append('\0');
    Put16(out, 1);   // colour planes
    Put16(out, 32);  // bits per pixel
    Put32(out, static_cast<quint32>(pngs[i].size()));
    Put32(out, offset);
    offset += static_cast<quint32>(pngs[i].size());
  }
  for (const QByteArray& png : pngs) out.append(png);
  return out;
}

bool Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  bool ok = true;
  std::vector<QImage> sizes;
  for (int size : {16, 24, 32, 48}) {
    sizes.push_back(ProgramIcon(size));
    ok &= Write(folder + QStringLiteral("/quillfen-%1.png").arg(size), Png(sizes.back()));
  }
  ok &= Write(folder + QStringLiteral("/quillfen.ico"), Ico(sizes));
  ok &= Write(folder + QStringLiteral("/instruction-bullet.png"), Png(InstructionBullet()));
  ok &= Write(folder + QStringLiteral("/progress-picture.png"), Png(ProgressPicture()));
  return ok ? 0 : 1;
}
