#include "browse/PreviewWriter.h"

#include "browse/MailPreview.h"
#include "browse/PreviewBody.h"
#include "browse/QPreviewOfItems.h"
#include "save/pim/HtmlPlainText.h"

#include <QBrush>
#include <QColor>
#include <QTextDocument>

void PreviewWriter::setTextColor(const QColor &colour)
{
    QTextCharFormat format;
    format.setForeground(QBrush(colour));
    m_cursor.mergeCharFormat(format);
}

void PreviewWriter::setFontPointSize(qreal size)
{
    QTextCharFormat format;
    format.setFontPointSize(size);
    m_cursor.mergeCharFormat(format);
}

void PreviewWriter::setAlignment(Qt::Alignment alignment)
{
    QTextBlockFormat format;
    format.setAlignment(alignment);
    m_cursor.mergeBlockFormat(format);
}

void PreviewWriter::append(const QString &text)
{
    appendIn(text, false);
}

void PreviewWriter::appendIn(const QString &text, bool markup)
{
    // The view appends through a cursor of its own at the end, in the formats of its cursor, and
    // keeps its cursor's character format over what the text brings. Text is markup only where
    // the caller knows it is: a guess from its first line would show typed tags as formatting.
    QTextDocument *document = m_cursor.document();
    QTextCursor end(document);
    end.beginEditBlock();
    end.movePosition(QTextCursor::End);
    if (!document->isEmpty())
        end.insertBlock(m_cursor.blockFormat(), m_cursor.charFormat());
    else
        end.setCharFormat(m_cursor.charFormat());
    const QTextCharFormat kept = m_cursor.charFormat();
    if (markup)
        end.insertHtml(text);
    else
        end.insertText(text);
    if (!m_cursor.hasSelection())
        m_cursor.setCharFormat(kept);
    end.endEditBlock();
}

void PreviewWriter::appendPlain(const QString &text)
{
    QTextCursor end(m_cursor.document());
    end.movePosition(QTextCursor::End);
    if (!m_cursor.document()->isEmpty())
        end.insertBlock();
    end.insertText(text, m_cursor.charFormat());
}

void PreviewWriter::appendLongText(const QString &text)
{
    if (IsMarkupText(text))
        appendIn(PicturesAfterBlocksOnTheirOwnLine(text), true);
    else
        appendPlain(text);
}

void PreviewWriter::appendLine(const QString &label, const QString &value)
{
    setTextColor(PreviewTextColour());
    appendPlain(label + value + QLatin1Char('\n'));
}

void PreviewWriter::appendHeadedLongText(const QString &heading, const QString &text)
{
    appendLine(heading, QString());
    setTextColor(PreviewTextColour());
    appendLongText(text);
}
