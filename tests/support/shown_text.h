#pragma once

#include <QLabel>
#include <QString>
#include <QTextDocument>

// Text that other programs or the service might send: as rich text it would
// be bold, read /dev/zero for an image and offer a link to a local file.
inline const QString markupText = QStringLiteral(
    "<b>Планёрка</b><img src=\"/dev/zero\"> <a href=\"file:///etc/passwd\">открыть</a> &amp; R&D");

// What a text shows once Qt has decided whether it is rich text, the way
// labels in their automatic format and tooltips decide.
inline QString shownText(const QString& text, Qt::TextFormat format = Qt::AutoText)
{
    if (format == Qt::PlainText || format == Qt::MarkdownText ||
        (format == Qt::AutoText && !Qt::mightBeRichText(text)))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

inline QString shownText(const QLabel& label)
{
    return shownText(label.text(), label.textFormat());
}
