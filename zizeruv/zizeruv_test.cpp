#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

#include "zizeruv/rtfreader.h"

namespace {

// The character format at the start of the first fragment of the block whose text starts
// with `prefix`.
QTextCharFormat FormatOf(const QTextDocument& doc, const QString& prefix, QTextBlock* found = nullptr) {
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
    if (!b.text().startsWith(prefix)) continue;
    if (found) *found = b;
    return b.begin().fragment().charFormat();
  }
  ADD_FAILURE() << "no block starts with " << prefix.toStdString();
  return {};
}

const char kReport[] =
    "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss MS Sans Serif;}{\\f2\\fswiss\\fprq2 Arial;}"
    "{\\f4\\froman\\fprq2 Times New Roman;}{\\f5\\fmodern\\fprq1 Courier New;}}"
    "{\\colortbl\\red0\\green0\\blue0;}\\pard\\plain\\f2\\fs28\\b /home/ann/a\\\\b "
    "\\par \\plain\\f4\\fs24\\par Printed:  May 1 \\par \\par\\par \\plain\\f5\\fs20\\ul "
    "Directory    Mar 5, 9:07 PM\\par \\plain\\f5\\fs20 src            12 K\\par "
    "\\plain\\f5\\fs20\\b [Total Used]   14 K\\par "
    "\\par \\pard\\qc\\plain\\f4\\fs18 Visit \\{us\\} caf\\'e9 \\u8364?uro\\par }";

TEST(RtfReader, KeepsTextPaddingAndParagraphs) {
  QTextDocument doc;
  zizeruv::LoadReport(QByteArray(kReport), &doc);
  const QString text = doc.toPlainText();
  EXPECT_TRUE(text.startsWith(QStringLiteral("/home/ann/a\\b \n\nPrinted:  May 1 \n")));
  EXPECT_TRUE(text.contains(QStringLiteral("\nsrc            12 K\n")));
  EXPECT_TRUE(text.contains(QStringLiteral("Visit {us} caf\u00e9 \u20acuro")));
  EXPECT_FALSE(text.contains(QStringLiteral("Arial")));  // font and colour tables print nothing
  EXPECT_FALSE(text.contains(QStringLiteral("?uro")));   // the Unicode fallback is skipped
}

TEST(RtfReader, AppliesFontsSizesBoldUnderlineAndCentring) {
  QTextDocument doc;
  zizeruv::LoadRtf(QByteArray(kReport), &doc);

  const QTextCharFormat title = FormatOf(doc, "/home");
  EXPECT_EQ(title.fontFamilies().toStringList().value(0), "Arial");
  EXPECT_DOUBLE_EQ(title.fontPointSize(), 14.0);
  EXPECT_EQ(title.fontWeight(), QFont::Bold);

  const QTextCharFormat heading = FormatOf(doc, "Directory");
  EXPECT_TRUE(heading.fontUnderline());
  EXPECT_TRUE(heading.fontFixedPitch());
  EXPECT_DOUBLE_EQ(heading.fontPointSize(), 10.0);

  const QTextCharFormat row = FormatOf(doc, "src");
  EXPECT_FALSE(row.fontUnderline());
  EXPECT_NE(row.fontWeight(), QFont::Bold);
  EXPECT_EQ(FormatOf(doc, "[Total Used]").fontWeight(), QFont::Bold);

  QTextBlock footer;
  const QTextCharFormat visit = FormatOf(doc, "Visit", &footer);
  EXPECT_EQ(visit.fontFamilies().toStringList().value(0), "Times New Roman");
  EXPECT_DOUBLE_EQ(visit.fontPointSize(), 9.0);
  EXPECT_EQ(footer.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  QTextBlock rowBlock;
  FormatOf(doc, "src", &rowBlock);
  EXPECT_EQ(rowBlock.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
}

TEST(RtfReader, SurvivesDamagedInput) {
  const char* inputs[] = {"{\\rtf1 }}}} text", "{\\rtf1 {{{{ \\", "{\\rtf1 \\'", "{\\rtf1 \\u-4000",
                          "{\\rtf1 \\fs999999999999999999 x", "{\\rtf1{\\*\\unknown hidden} shown}"};
  for (const char* input : inputs) {
    QTextDocument doc;
    zizeruv::LoadReport(QByteArray(input), &doc);
    EXPECT_FALSE(doc.toPlainText().contains("hidden"));
  }
}

TEST(PlainText, KeepsColumnsAndDropsCarriageReturns) {
  QTextDocument doc;
  zizeruv::LoadReport(QByteArray("Directory     Size\r\nsrc          12 K\r\n"), &doc);
  EXPECT_EQ(doc.toPlainText(), QStringLiteral("Directory     Size\nsrc          12 K\n"));
  EXPECT_TRUE(doc.defaultFont().fixedPitch());
}

struct RunResult {
  int exitCode = -1;
  QString err;
};

RunResult RunZizeruv(const QStringList& args, const QProcessEnvironment& env) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(qEnvironmentVariable("ZIZERUV_BIN"), args);
  EXPECT_TRUE(p.waitForFinished(60000));
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
          QString::fromLocal8Bit(p.readAllStandardError())};
}

QString PdfText(const QString& pdf) {
  QProcess p;
  p.start("pdftotext", {"-layout", pdf, "-"});
  EXPECT_TRUE(p.waitForFinished(60000));
  return QString::fromUtf8(p.readAllStandardOutput());
}

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("CUPS_SERVER", dir.filePath("no-cups-here"));  // never reach a real printer
  }
  QString Write(const QString& name, const QByteArray& bytes) {
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return f.fileName();
  }
  QTemporaryDir dir;
  QProcessEnvironment env;
};

TEST_F(Program, WritesRtfAndPlainTextAsPdf) {
  const QString pdf = dir.filePath("out.pdf");
  env.insert("ZIZERUV_OUTPUT", pdf);
  ASSERT_EQ(RunZizeruv({"/p", Write("r.rtf", kReport)}, env).exitCode, 0);
  const QString text = PdfText(pdf);
  EXPECT_TRUE(text.contains("src")) << text.toStdString();
  EXPECT_TRUE(text.contains("[Total Used]"));
  EXPECT_TRUE(text.contains("Printed:"));

  QFile::remove(pdf);
  ASSERT_EQ(RunZizeruv({"/p", Write("r.txt", "Varnow Directory Size Report\r\nsrc   12 K\r\n")}, env)
                .exitCode, 0);
  EXPECT_TRUE(PdfText(pdf).contains("Varnow Directory Size Report"));
}

TEST_F(Program, ReportsMissingPrinterFileAndArguments) {
  const RunResult noPrinter = RunZizeruv({"/p", Write("r.rtf", kReport)}, env);
  EXPECT_EQ(noPrinter.exitCode, 3);
  EXPECT_TRUE(noPrinter.err.contains("no default printer")) << noPrinter.err.toStdString();

  const RunResult noFile = RunZizeruv({"/p", dir.filePath("missing.rtf")}, env);
  EXPECT_EQ(noFile.exitCode, 2);
  EXPECT_TRUE(noFile.err.contains("missing.rtf"));

  EXPECT_EQ(RunZizeruv({"r.rtf"}, env).exitCode, 1);
}

TEST_F(Program, CarriesItsVersion) {
  QProcess p;
  p.start(qEnvironmentVariable("ZIZERUV_BIN"), {"--version"});
  ASSERT_TRUE(p.waitForFinished(60000));
  EXPECT_EQ(p.readAllStandardOutput(), "zizeruv 2.0.0.74\n");
  QFile self(qEnvironmentVariable("ZIZERUV_BIN"));
  ASSERT_TRUE(self.open(QIODevice::ReadOnly));
  const QByteArray bytes = self.readAll();
  const qsizetype record = bytes.indexOf(QByteArray("\x7fVARNOW-VERINFO\x01", 16));
  ASSERT_GE(record, 0);
  EXPECT_EQ(bytes.mid(record + 36, 8), QByteArray("zizeruv", 8));  // the name, zero-padded
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
