#include "app/pictures/program_icon.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QString>
#include <QSvgRenderer>

// The resources live in a static library; naming its initialiser makes the linker keep them.
// Q_INIT_RESOURCE must be used outside any namespace.
static void InitProgramResources() {
  Q_INIT_RESOURCE(res);
}

namespace orvex {
namespace {

QPixmap Render(QSvgRenderer& svg, int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  svg.render(&p);
  p.end();
  return QPixmap::fromImage(image);
}

}  // namespace

QIcon ProgramIcon() {
  static const bool initialised = [] {
    InitProgramResources();
    return true;
  }();
  (void)initialised;
  QSvgRenderer large(QString::fromLatin1(kProgramIconPath));
  QSvgRenderer small(QString::fromLatin1(kSmallProgramIconPath));
  if (!large.isValid()) return {};
  QIcon icon;
  for (int size : {16, 20, 24}) icon.addPixmap(Render(small.isValid() ? small : large, size));
  for (int size : {32, 48, 64, 128, 256}) icon.addPixmap(Render(large, size));
  return icon;
}

}  // namespace orvex
