#pragma once
// The walk that writes a message's parsed markup back inert, shared by the files that write its
// elements and the frame around the message's body. Used by InertMarkup alone.

#include "save/mail/BoundedParse.h"
#include "save/mail/InertStyles.h"

#include <QByteArray>
#include <QtGlobal>
#include <gumbo.h>

#include <atomic>
#include <unordered_map>

namespace inert {

// The walk over the parsed tree, under the bound the parse had: the same CPU deadline and stop.
// The parser copies a formatting element, with its attributes, into every paragraph that follows
// it: a style is read once, and its copies take what that reading gave.
class PageWalk {
public:
    PageWalk(const std::atomic<bool> *stop, qint64 cpuDeadline) : stop_(stop), deadline_(cpuDeadline) {}

    // False once the walk is to end (ended() says why); looks at the clock every few hundred
    // steps, and after a long style.
    bool goOn(qint64 work = 1)
    {
        if (end_ != PageWorkEnd::None)
            return false;
        work_ += work;
        if (work_ < kStepsBetweenLooks)
            return true;
        work_ = 0;
        end_ = PageWorkShouldEnd(stop_, deadline_);
        return end_ == PageWorkEnd::None;
    }
    PageWorkEnd ended() const { return end_; }

    // A style attribute's value as it stays.
    QByteArray style(const GumboAttribute &a)
    {
        // Copies of one attribute point at the same markup; one the parser made has none.
        const char *source = a.original_value.data;
        if (!source)
            return InertCss(a.value);
        const auto found = styles_.find(source);
        if (found != styles_.end())
            return found->second;
        const QByteArray css = InertCss(a.value);
        goOn(qint64(a.original_value.length) / kBytesPerStep);
        styles_.emplace(source, css);
        return css;
    }

private:
    static constexpr qint64 kStepsBetweenLooks = 256;
    static constexpr qint64 kBytesPerStep = 256;

    const std::atomic<bool> *stop_;
    qint64 deadline_;
    qint64 work_ = 0;
    PageWorkEnd end_ = PageWorkEnd::None;
    std::unordered_map<const char *, QByteArray> styles_;
};

// Text as element content (attribute: as an attribute value), markup characters escaped.
void appendEscaped(QByteArray &out, const char *text, bool attribute);
// The value an attribute keeps on the element, or null when it goes.
QByteArray keptValue(PageWalk &walk, const GumboElement &e, const GumboAttribute &a);
// Writes the kept part of the tree below root; false once out holds more than limit bytes or the
// walk is to end. Elements more than maxDepth deep (0: no limit) are written as their content only.
bool appendKept(PageWalk &walk, QByteArray &out, const GumboNode *root, int limit, int maxDepth);
// The document: the frame's rules, the head's style sheets, then the body's content in the frame
// that carries the body's look; false as appendKept.
bool appendDocument(PageWalk &walk, QByteArray &out, const GumboElement &html, int limit, int maxDepth);

}  // namespace inert
