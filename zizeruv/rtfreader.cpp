#include "zizeruv/rtfreader.h"

#include <algorithm>

#include <QFont>
#include <QMap>
#include <QString>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QVector>

namespace zizeruv {
namespace {

struct FontDef {
  QString name;
  QFont::StyleHint hint = QFont::AnyStyle;
};

enum class Destination { Text, FontTable, Skip };

// Everything a group can change; '{' pushes a copy, '}' restores it.
struct State {
  Destination destination = Destination::Text;
  int font = 0;
  int halfPoints = 24;
  bool bold = false;
  bool italic = false;
  bool underline = false;
  Qt::Alignment alignment = Qt::AlignLeft;
  int unicodeSkip = 1;
};

// Generic family names that fontconfig always resolves, appended after the named font so a
// document written for fonts this machine lacks still gets the right kind of face.
QString GenericFamily(QFont::StyleHint hint) {
  switch (hint) {
    case QFont::TypeWriter: return QStringLiteral("Monospace");
    case QFont::Serif: return QStringLiteral("Serif");
    default: return QStringLiteral("Sans Serif");
  }
}

class RtfReader {
 public:
  RtfReader(const QByteArray& bytes, QTextDocument* document)
      : m_in(bytes), m_cursor(document) {}

  void Run() {
    m_cursor.setBlockFormat(BlockFormat());
    while (m_pos < m_in.size()) {
      const char c = m_in[m_pos++];
      if (c == '{') {
        Flush();
        m_stack.push_back(m_state);
      } else if (c == '}') {
        EndGroup();
      } else if (c == '\\') {
        ReadControl();
      } else if (c != '\r' && c != '\n') {
        AddText(QChar(static_cast<uchar>(c)));
      }
    }
    Flush();
  }

 private:
  void EndGroup() {
    Flush();
    if (m_state.destination == Destination::FontTable && !m_fontName.isEmpty()) StoreFont();
    if (m_stack.isEmpty()) return;  // unbalanced '}': keep the outer state
    m_state = m_stack.takeLast();
  }

  void ReadControl() {
    if (m_pos >= m_in.size()) return;
    const char c = m_in[m_pos];
    if (!IsLetter(c)) {
      ++m_pos;
      ReadSymbol(c);
      return;
    }
    const qsizetype start = m_pos;
    while (m_pos < m_in.size() && IsLetter(m_in[m_pos])) ++m_pos;
    const QByteArray word = m_in.mid(start, m_pos - start);
    bool hasParam = false;
    int param = 0;
    ReadParameter(&hasParam, &param);
    if (m_pos < m_in.size() && m_in[m_pos] == ' ') ++m_pos;  // the delimiter belongs to the word
    ApplyWord(word, hasParam, param);
  }

  void ReadParameter(bool* hasParam, int* param) {
    bool negative = false;
    if (m_pos < m_in.size() && m_in[m_pos] == '-') {
      negative = true;
      ++m_pos;
    }
    long long value = 0;
    while (m_pos < m_in.size() && m_in[m_pos] >= '0' && m_in[m_pos] <= '9') {
      *hasParam = true;
      if (value < 100000000) value = value * 10 + (m_in[m_pos] - '0');
      ++m_pos;
    }
    *param = static_cast<int>(negative ? -value : value);
  }

  void ReadSymbol(char c) {
    switch (c) {
      case '\\': case '{': case '}': AddText(QChar(static_cast<uchar>(c))); break;
      case '~': AddText(QChar(0x00A0)); break;
      case '_': AddText(QChar(0x2011)); break;
      case '*': m_state.destination = Destination::Skip; break;
      case '\'': AddText(QChar(ReadHexByte())); break;
      case '\r': case '\n': Paragraph(); break;
      default: break;  // optional hyphen and other symbols print nothing
    }
  }

  ushort ReadHexByte() {
    int value = 0;
    for (int i = 0; i < 2 && m_pos < m_in.size(); ++i) {
      const int digit = HexDigit(m_in[m_pos]);
      if (digit < 0) break;
      value = value * 16 + digit;
      ++m_pos;
    }
    return static_cast<ushort>(value);
  }

  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  void ApplyWord(const QByteArray& w, bool hasParam, int p) {
    if (m_state.destination == Destination::FontTable && ApplyFontTableWord(w, p)) return;
    if (w == "par") return Paragraph();
    if (w == "line") return AddText(QChar(QChar::LineSeparator));
    if (w == "tab") return AddText(QChar('\t'));
    if (w == "u") return AddUnicode(p);
    if (w == "uc") { m_state.unicodeSkip = std::max(0, p); return; }
    if (w == "fonttbl") { m_state.destination = Destination::FontTable; return; }
    if (IsSkippedDestination(w)) { m_state.destination = Destination::Skip; return; }
    if (w == "pard") return SetAlignment(Qt::AlignLeft);
    if (w == "ql") return SetAlignment(Qt::AlignLeft);
    if (w == "qc") return SetAlignment(Qt::AlignHCenter);
    if (w == "qr") return SetAlignment(Qt::AlignRight);
    if (w == "qj") return SetAlignment(Qt::AlignJustify);
    Flush();  // every other word may change the character format
    const bool on = !hasParam || p != 0;
    if (w == "plain") {
      m_state.font = m_defaultFont;
      m_state.halfPoints = 24;
      m_state.bold = m_state.italic = m_state.underline = false;
    } else if (w == "f") {
      m_state.font = p;
    } else if (w == "deff") {
      m_defaultFont = p;
      m_state.font = p;
    } else if (w == "fs") {
      if (p > 0) m_state.halfPoints = p;
    } else if (w == "b") {
      m_state.bold = on;
    } else if (w == "i") {
      m_state.italic = on;
    } else if (w == "ul") {
      m_state.underline = on;
    } else if (w == "ulnone") {
      m_state.underline = false;
    }
  }

  // Words inside the font table describe the font being defined.
  bool ApplyFontTableWord(const QByteArray& w, int p) {
    if (w == "f") {
      m_fontNumber = p;
      m_fontName.clear();
      m_fontHint = QFont::AnyStyle;
      return true;
    }
    if (w == "fswiss") m_fontHint = QFont::SansSerif;
    else if (w == "froman") m_fontHint = QFont::Serif;
    else if (w == "fmodern") m_fontHint = QFont::TypeWriter;
    else if (w == "fscript") m_fontHint = QFont::Cursive;
    else if (w == "fdecor") m_fontHint = QFont::Decorative;
    else if (!w.startsWith("f")) return false;
    return true;  // fnil, fprq, fcharset and the like carry nothing we use
  }

  static bool IsSkippedDestination(const QByteArray& w) {
    static const char* const kSkipped[] = {"colortbl", "stylesheet", "info", "pict", "header",
                                           "footer", "headerl", "headerr", "footerl", "footerr",
                                           "object", "field", "fldinst", "listtable", "xe"};
    for (const char* name : kSkipped)
      if (w == name) return true;
    return false;
  }

  static bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

  void AddUnicode(int p) {
    AddText(QChar(static_cast<ushort>(p < 0 ? p + 65536 : p)));
    SkipFallback(m_state.unicodeSkip);
  }

  // After \uN the writer leaves N characters for readers without Unicode; drop them.
  void SkipFallback(int count) {
    while (count-- > 0 && m_pos < m_in.size()) {
      const char c = m_in[m_pos];
      if (c == '{' || c == '}') return;
      if (c == '\\') {
        if (m_pos + 1 < m_in.size() && m_in[m_pos + 1] == '\'') {
          m_pos += 2;
          ReadHexByte();
          continue;
        }
        return;  // a control word ends the fallback
      }
      ++m_pos;
    }
  }

  void AddText(QChar c) {
    if (m_state.destination == Destination::Text) {
      m_run.append(c);
    } else if (m_state.destination == Destination::FontTable) {
      if (c == ';') StoreFont();
      else m_fontName.append(c);
    }
  }

  void StoreFont() {
    m_fonts.insert(m_fontNumber, FontDef{m_fontName.trimmed(), m_fontHint});
    m_fontName.clear();
  }

  void SetAlignment(Qt::Alignment alignment) {
    Flush();
    m_state.alignment = alignment;
    if (m_state.destination == Destination::Text) m_cursor.setBlockFormat(BlockFormat());
  }

  void Paragraph() {
    if (m_state.destination != Destination::Text) return;
    Flush();
    m_cursor.insertBlock(BlockFormat(), CharFormat());
  }

  void Flush() {
    if (m_run.isEmpty()) return;
    m_cursor.insertText(m_run, CharFormat());
    m_run.clear();
  }

  QTextBlockFormat BlockFormat() const {
    QTextBlockFormat format;
    format.setAlignment(m_state.alignment);
    return format;
  }

  QTextCharFormat CharFormat() const {
    const FontDef font = m_fonts.value(m_state.font);
    QTextCharFormat format;
    QStringList families;
    if (!font.name.isEmpty()) families << font.name;
    families << GenericFamily(font.hint);
    format.setFontFamilies(families);
    format.setFontStyleHint(font.hint);
    format.setFontFixedPitch(font.hint == QFont::TypeWriter);
    format.setFontPointSize(m_state.halfPoints / 2.0);
    format.setFontWeight(m_state.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(m_state.italic);
    format.setFontUnderline(m_state.underline);
    return format;
  }

  const QByteArray& m_in;
  qsizetype m_pos = 0;
  QTextCursor m_cursor;
  State m_state;
  QVector<State> m_stack;
  QString m_run;
  QMap<int, FontDef> m_fonts;
  int m_defaultFont = 0;
  int m_fontNumber = 0;
  QString m_fontName;
  QFont::StyleHint m_fontHint = QFont::AnyStyle;
};

}  // namespace

bool IsRtf(const QByteArray& bytes) { return bytes.startsWith("{\\rtf"); }

void LoadReport(const QByteArray& bytes, QTextDocument* document) {
  if (IsRtf(bytes))
    LoadRtf(bytes, document);
  else
    LoadPlainText(bytes, document);
}

void LoadRtf(const QByteArray& bytes, QTextDocument* document) {
  document->clear();
  RtfReader(bytes, document).Run();
}

void LoadPlainText(const QByteArray& bytes, QTextDocument* document) {
  QFont font(QStringLiteral("Monospace"), 10);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  document->setDefaultFont(font);
  QString text = QString::fromUtf8(bytes);
  text.remove(QChar('\r'));
  document->setPlainText(text);
}

}  // namespace zizeruv
