#pragma once
// Re-reading a task's or contact's XML element from the archive and cutting element texts out
// of it, and reading long texts (descriptions, notes) for the previews.

#include "scanner/XmlEntities.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <functional>
#include <string_view>

// Open-tag texts ("<OPFTaskCopyName", no '>') in processing order; the close tag of a row is
// "</" + name + ">". Names hold only letters, digits, '_', '-', '.' and ':'.
using ElementTagTable = QVector<QByteArray>;

// The item's element bytes, clamped to the archive; empty when nothing could be read. NUL
// bytes are kept: each value is cut at its own first NUL.
QByteArray ReadItemXml(qint64 llItemOffset, qint64 dwItemLength);

// Finds the row's element in one part of an item: false when it is absent. *raw is the
// element's text exactly as the archive holds it.
bool ExtractElementValue(std::string_view part, const QByteArray &openTag, std::string_view *raw);

// Element text as UTF-8 up to its first NUL, CDATA as its text and comments dropped, with white space removed at both ends when trim.
QString DecodeElementText(std::string_view raw, bool trim = true);

// Called once per row found in each part, in part order, then table order.
using ElementHandler = std::function<void(int row, std::string_view raw)>;

// Splits the item at every closeTag ("</task>", "</contact>") and searches each piece before
// one; the text after the last close tag is not searched.
void ExtractItemElements(std::string_view item, std::string_view closeTag, const ElementTagTable &table,
                         const ElementHandler &handler);

// A long text (a body, a description, a note) stored in an element, as the preview shows it:
// read as the writers read it (CDATA as its text, comments dropped, up to the first NUL), named
// references undone in form, character references ("&#233;", "&#xE9;") once.
QString PreviewLongText(const QByteArray &stored, EntityForm form);

// A note's or task's long text as its preview shows it: typed text as typed, its references
// undone once (EntityForm::Scanned); text that opens as markup (IsMarkupText) as the mail body
// reads it (EntityForm::Preview), so attributes quoted by references keep their pictures, links
// and styles.
QString ItemPreviewLongText(const QByteArray &stored);

// A long text: length bytes at offset as PreviewLongText gives it in EntityForm::Four (so
// "&amp;gt;" ends as ">").
QString ReadLongText(qint64 length, qint64 offset);
