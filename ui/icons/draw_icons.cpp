// Draws Quillfen's own pictures: the program icon at 16, 24, 32, 48, 64, 128
// and 256 pixels and as a scalable SVG drawing (one Windows .ico holds the
// four small ones), the 16-pixel bullet beside the export instructions and
// the 22-pixel picture beside the progress caption. The files are committed;
// run this again only when the drawings change:
//   cmake --build <build> --target quillfen_draw_icons && <build>/quillfen_draw_icons ui/icons

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
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

// The arrow on a badge of the given radius.
QPolygonF ArrowPoints(const QPointF& centre, double r) {
  return QPolygonF({centre + QPointF(-0.55 * r, -0.2 * r), centre + QPointF(0.05 * r, -0.2 * r),
                    centre + QPointF(0.05 * r, -0.55 * r), centre + QPointF(0.6 * r, 0.0),
                    centre + QPointF(0.05 * r, 0.55 * r), centre + QPointF(0.05 * r, 0.2 * r),
                    centre + QPointF(-0.55 * r, 0.2 * r)});
}

void RightArrow(QPainter& p, const QPointF& centre, double radius, const QColor& disc) {
  p.setPen(Qt::NoPen);
  p.setBrush(disc);
  p.drawEllipse(centre, radius, radius);
  QPainterPath arrow;
  arrow.addPolygon(ArrowPoints(centre, radius));
  arrow.closeSubpath();
  p.setBrush(Qt::white);
  p.drawPath(arrow);
}

// The program icon: a letter with a red "move on" badge, drawn on a 48-unit
// square.
const QRectF kIconLetter(3.5, 9.5, 36, 26);
const QPointF kIconBadge(35, 35);
constexpr double kIconBadgeRadius = 11.5;

QImage ProgramIcon(int size) {
  QImage image = Canvas(size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 48.0, size / 48.0);
  // Crisp one- or two-pixel outlines up to 48 pixels; larger icons keep the
  // 48-pixel one's proportions.
  const double pen = size > 48 ? 2.0 * size / 48 : size >= 32 ? 2.0 : 1.0;
  Envelope(p, kIconLetter, pen);
  RightArrow(p, kIconBadge, kIconBadgeRadius, kRed);
  return image;
}

QString SvgColour(const QColor& colour) {
  return colour.name(QColor::HexRgb);
}

// The program icon as an SVG drawing, for the scalable size of the icon
// theme: the same shapes as ProgramIcon at 48 pixels.
QByteArray ProgramIconSvg() {
  const QRectF& letter = kIconLetter;
  const QPointF flapTip(letter.center().x(), letter.top() + letter.height() * 0.55);
  QString arrow;
  for (const QPointF& point : ArrowPoints(kIconBadge, kIconBadgeRadius))
    arrow += QStringLiteral("%1,%2 ").arg(point.x()).arg(point.y());
  const QString svg =
      QStringLiteral(
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"48\" height=\"48\" "
          "viewBox=\"0 0 48 48\">\n"
          "  <g fill=\"none\" stroke=\"%1\" stroke-width=\"2\" stroke-linejoin=\"round\" "
          "stroke-linecap=\"round\">\n"
          "    <rect x=\"%2\" y=\"%3\" width=\"%4\" height=\"%5\" fill=\"%6\"/>\n"
          "    <path d=\"M%2,%3 L%7,%8 L%9,%3\"/>\n"
          "  </g>\n"
          "  <circle cx=\"%10\" cy=\"%11\" r=\"%12\" fill=\"%13\"/>\n"
          "  <polygon points=\"%14\" fill=\"#ffffff\"/>\n"
          "</svg>\n")
          .arg(SvgColour(kInk))
          .arg(letter.x())
          .arg(letter.y())
          .arg(letter.width())
          .arg(letter.height())
          .arg(SvgColour(QColor(250, 250, 250)))
          .arg(flapTip.x())
          .arg(flapTip.y())
          .arg(letter.right())
          .arg(kIconBadge.x())
          .arg(kIconBadge.y())
          .arg(kIconBadgeRadius)
          .arg(SvgColour(kRed))
          .arg(arrow.trimmed());
  return svg.toUtf8();
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
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    const QImage icon = ProgramIcon(size);
    ok &= Write(folder + QStringLiteral("/quillfen-%1.png").arg(size), Png(icon));
    if (size <= 48) sizes.push_back(icon);
  }
  ok &= Write(folder + QStringLiteral("/quillfen.ico"), Ico(sizes));
  ok &= Write(folder + QStringLiteral("/quillfen.svg"), ProgramIconSvg());
  ok &= Write(folder + QStringLiteral("/instruction-bullet.png"), Png(InstructionBullet()));
  ok &= Write(folder + QStringLiteral("/progress-picture.png"), Png(ProgressPicture()));
  return ok ? 0 : 1;
}
