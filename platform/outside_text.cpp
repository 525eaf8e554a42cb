#include "platform/outside_text.h"

#include <QLabel>
#include <QMessageBox>
#include <QTextDocument>

using namespace Qt::StringLiterals;

namespace OutsideText {

void setLabel(QLabel& label, const QString& text)
{
    label.setTextFormat(Qt::PlainText);
    label.setOpenExternalLinks(false);
    label.setText(text);
}

void makePlain(QMessageBox& box)
{
    box.setTextFormat(Qt::PlainText);
    // QMessageBox gives the informative text a label of its own that guesses
    // the format and opens links by itself.
    if (auto* informative = box.findChild<QLabel*>(u"qt_msgbox_informativelabel"_s))
        setLabel(*informative, informative->text());
}

QString toolTip(const QString& text)
{
    return text.isEmpty() ? text : Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

QString trayToolTip(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        result += c;
        if (c == u'<' || c == u'&')
            result += QChar(0x2060);
    }
    return result;
}

QString menuTitle(const QString& text)
{
    QString result = text;
    return result.replace(u'&', u"&&"_s);
}

QString fromMenuTitle(const QString& title)
{
    QString result = title;
    return result.replace(u"&&"_s, u"&"_s);
}

QString terminalLine(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            result += u"\\\\"_s;
            break;
        case '\t':
            result += u"\\t"_s;
            break;
        case '\n':
            result += u"\\n"_s;
            break;
        case '\r':
            result += u"\\r"_s;
            break;
        default:
            // C0, DEL and C1 controls; the line and paragraph separators too,
            // which some terminals break lines at.
            if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
                result += c.unicode() <= 0xff ? u"\\x%1"_s.arg(uint(c.unicode()), 2, 16, QChar(u'0'))
                                              : u"\\u%1"_s.arg(uint(c.unicode()), 4, 16, QChar(u'0'));
            else
                result += c;
        }
    }
    return result;
}

} // namespace OutsideText
