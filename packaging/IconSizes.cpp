// Writes the program's icon into a hicolor icon theme folder at the given sizes, scaled from
// the Windows icon's picture: OUT_DIR/SIZExSIZE/apps/kiv3-device-proxy.png.
//
//     kiv3-icon-sizes ICON OUT_DIR SIZE...
#include <QCoreApplication>
#include <QDir>
#include <QImage>

#include <cstdio>

namespace {

bool writeSize(const QImage &icon, const QString &outDir, int size)
{
    // Whole multiples keep the picture's hard edges; other sizes are smoothed.
    const Qt::TransformationMode mode
        = size % icon.width() == 0 ? Qt::FastTransformation : Qt::SmoothTransformation;
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
    return QDir().mkpath(folder)
        && icon.scaled(size, size, Qt::IgnoreAspectRatio, mode)
               .save(folder + QStringLiteral("/kiv3-device-proxy.png"));
}

} // namespace

int main(int argc, char *argv[])
{
    // The application object lets QImage find Qt's icon format plugin.
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 4) {
        std::fputs("usage: kiv3-icon-sizes ICON OUT_DIR SIZE...\n", stderr);
        return 2;
    }
    const QImage icon(arguments.at(1));
    if (icon.isNull() || icon.width() != icon.height()) {
        std::fprintf(stderr, "kiv3-icon-sizes: no square picture in %s\n", argv[1]);
        return 1;
    }
    for (const QString &argument : arguments.mid(3)) {
        const int size = argument.toInt();
        if (size < 1 || !writeSize(icon, arguments.at(2), size)) {
            std::fprintf(stderr, "kiv3-icon-sizes: cannot write size %s\n", qPrintable(argument));
            return 1;
        }
    }
    return 0;
}
