#pragma once

#include <QString>

class QLabel;
class QMessageBox;

// Text that comes from outside Korvala (the service's fields, other programs'
// window titles and names, file names, error descriptions) is shown as
// itself. Qt reads a label's, a message box's or a tooltip's text as HTML
// whenever it looks like markup (and would then load images, or offer a link
// to any address), takes an ampersand in a menu item for a shortcut, and a
// terminal obeys control characters: each way of showing text has its one
// safe form here.
namespace OutsideText {

// Sets a label's text and makes it plain text, links and all.
void setLabel(QLabel& label, const QString& text);
// Makes a message box's text and informative text plain; call after both are set.
void makePlain(QMessageBox& box);
// A widget's tooltip: rich text that shows exactly `text`.
QString toolTip(const QString& text);
// The tray icon's tooltip. Hosts read it either through Qt's guess at rich
// text or as plain text, so neither escapes nor a markup wrapper show right
// everywhere: a word joiner after '<' and '&' keeps them from opening a tag
// or an entity in any reader while looking the same.
QString trayToolTip(const QString& text);
// A menu item's title: an ampersand stays an ampersand.
QString menuTitle(const QString& text);
// The title of a menu item as set by menuTitle, for reading it back.
QString fromMenuTitle(const QString& title);
// One line for a terminal: control characters as \t, \n, \r, \\ and \xHH, so
// that the text stays on its line and nothing reaches the terminal as a
// control sequence.
QString terminalLine(const QString& text);

} // namespace OutsideText
