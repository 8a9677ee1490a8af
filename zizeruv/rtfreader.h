// Turns a report file into a text document ready for printing. Reports come either as the
// small rich-text subset the tracker writes (font table, font and size changes, bold,
// underline, italic, paragraph alignment, paragraphs, escaped and Unicode characters) or as
// plain text, which is set in a fixed-pitch font so its blank-padded columns line up.
#pragma once

#include <QByteArray>

class QTextDocument;

namespace zizeruv {

// True when the bytes start like a rich-text document.
bool IsRtf(const QByteArray& bytes);

// Replaces the document's contents with the report.
void LoadReport(const QByteArray& bytes, QTextDocument* document);
void LoadRtf(const QByteArray& bytes, QTextDocument* document);
void LoadPlainText(const QByteArray& bytes, QTextDocument* document);

}  // namespace zizeruv
