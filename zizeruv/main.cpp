// zizeruv /p FILE: prints a report (rich text or plain text) on the default printer.
// With ZIZERUV_OUTPUT=out.pdf in the environment it writes a PDF there instead.
// Exit status: 0 printed, 1 bad arguments, 2 file unreadable, 3 no printer, 4 printing failed.
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTextDocument>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/versionrecord.h"
#include "zizeruv/rtfreader.h"
#include "zizeruv/usage.h"

// The version record that the installer reads from this file.
[[gnu::used]] constexpr platform::CVersionRecordBytes kVersionRecord =
    platform::MakeVersionRecord(VARNOW_VERSION_MAJOR, VARNOW_VERSION_MINOR, VARNOW_VERSION_PATCH,
                              VARNOW_VERSION_BUILD, "zizeruv");

namespace {

// Started from an unattended tracker there may be no display; printing needs none.
void ChooseHeadlessPlatform() {
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

bool IsPrintSwitch(const char* arg) {
  return std::strcmp(arg, "/p") == 0 || std::strcmp(arg, "/P") == 0 || std::strcmp(arg, "-p") == 0;
}

void Fail(const QString& text) { std::fprintf(stderr, "zizeruv: %s\n", qPrintable(text)); }

// Points the printer at the PDF file or the default printer; false when there is neither.
bool ChooseDestination(QPrinter* printer) {
  const QString pdf = qEnvironmentVariable("ZIZERUV_OUTPUT");
  if (!pdf.isEmpty()) {
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(pdf);
    return true;
  }
  const QPrinterInfo info = QPrinterInfo::defaultPrinter();
  if (info.isNull()) return false;
  printer->setPrinterName(info.printerName());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("zizeruv %d.%d.%d.%d\n", VARNOW_VERSION_MAJOR, VARNOW_VERSION_MINOR, VARNOW_VERSION_PATCH,
                VARNOW_VERSION_BUILD);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(platform::HelpText(zizeruv::PrintUsage()).c_str(), stdout);
    return 0;
  }
  if (argc != 3 || !IsPrintSwitch(argv[1])) {
    std::fprintf(stderr, "usage: zizeruv /p FILE\n");
    return 1;
  }
  ChooseHeadlessPlatform();
  QApplication app(argc, argv);

  const QString path = QFile::decodeName(argv[2]);
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    Fail(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    return 2;
  }
  QTextDocument document;
  zizeruv::LoadReport(file.readAll(), &document);

  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(QFileInfo(path).fileName());
  if (!ChooseDestination(&printer)) {
    Fail(QStringLiteral("no default printer is set up; %1 was not printed").arg(path));
    return 3;
  }
  document.print(&printer);
  if (printer.printerState() == QPrinter::Error) {
    Fail(QStringLiteral("printing %1 failed").arg(path));
    return 4;
  }
  return 0;
}
