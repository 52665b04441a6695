#pragma once
// How the page filter reads a URL and a style sheet as a browser would, so that nothing of the
// message loads when its page is opened.

#include <QByteArray>

#include <initializer_list>
#include <string_view>

// name is one of names (exact, case as given).
bool IsOneOf(const char *name, std::initializer_list<const char *> names);
// The URL a browser takes from an attribute value (entities already undone): blanks and controls
// at both ends, and tabs and line breaks anywhere, removed.
QByteArray UrlOfValue(const char *value);
// The scheme of a URL in lower case; empty for a relative one.
QByteArray SchemeOf(const QByteArray &url);
// A picture or other resource the message carries itself (data:, cid:): nothing is fetched.
bool IsInsideUrl(const QByteArray &url);
// A style sheet or style attribute that loads nothing: a url() naming anything but a picture of
// the message or a place in the page (#id), and every other function that loads, become "none";
// @import rules go.
QByteArray InertCss(std::string_view css);
// Takes the direction declarations out of a style's declarations (as InertCss writes them):
// returns the direction the last one sets ("rtl" or "ltr"; empty for none or another value), and
// *rest is the style without them.
QByteArray TakeCssDirection(const QByteArray &style, QByteArray *rest);
