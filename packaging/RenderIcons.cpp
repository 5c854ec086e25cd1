// Renders the program's icon, as the window draws it for itself, into the PNG files a desktop
// looks for: OUTDIR/<n>x<n>/apps/kestlsugraph.png for every size n given. Run at build time, so
// the installed icon is always the one the program shows.
#include <QDir>
#include <QImage>
#include <cstdio>
#include <cstdlib>

#include "ui/Pictures.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: kest_render_icons OUTDIR SIZE...\n");
    return 2;
  }
  // The icon is made of paths only: painting it into an image needs no application object and
  // no display, which the build machine may not have.
  const QString root = QString::fromLocal8Bit(argv[1]);
  for (int i = 2; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size < 8 || size > 1024) {
      std::fprintf(stderr, "kest_render_icons: bad size '%s'\n", argv[i]);
      return 2;
    }
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
    const QString path = folder + QStringLiteral("/kestlsugraph.png");
    if (!QDir().mkpath(folder) || !ui::ProgramIcon(size).save(path, "PNG")) {
      std::fprintf(stderr, "kest_render_icons: could not write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
