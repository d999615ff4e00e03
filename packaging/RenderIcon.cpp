// Build-time tool: renders the scalable icon into the PNG sizes of the hicolor theme with the same SVG
// renderer the program draws it with.
//   tallyvane-render-icon SVG SIZE OUT.png
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

#include <charconv>
#include <cstring>

int main(int argc, char** argv)
{
    int size = 0;
    if (argc != 4 || std::from_chars(argv[2], argv[2] + std::strlen(argv[2]), size).ec != std::errc{} ||
        size < 1 || size > 1024) {
        QTextStream(stderr) << "usage: tallyvane-render-icon SVG SIZE OUT.png\n";
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        QTextStream(stderr) << "tallyvane-render-icon: cannot read " << argv[1] << '\n';
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    if (!image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        QTextStream(stderr) << "tallyvane-render-icon: cannot write " << argv[3] << '\n';
        return 1;
    }
    return 0;
}
