#include "browse/ContactFields.h"

#include "browse/ItemTexts.h"
#include "scanner/ElementValue.h"
#include "scanner/XmlEntities.h"

#include <QStringList>

#include <cstring>
#include <type_traits>

static_assert(std::is_standard_layout<ContactPreviewFields>::value, "fields are addressed by offset");

namespace {

#define FIELD(name, rule, member)                                                                                      \
    ContactFieldRow                                                                                                    \
    {                                                                                                                  \
        name, ContactRule::rule, offsetof(ContactPreviewFields, member), int(sizeof(ContactPreviewFields::member)), 1  \
    }
#define LIST(name, rule, member)                                                                                       \
    ContactFieldRow                                                                                                    \
    {                                                                                                                  \
        name, ContactRule::rule, offsetof(ContactPreviewFields, member), int(sizeof(ContactPreviewFields::member[0])), \
            int(sizeof(ContactPreviewFields::member) / sizeof(ContactPreviewFields::member[0]))                        \
    }
#define NONE(name)                                                                                                     \
    ContactFieldRow                                                                                                    \
    {                                                                                                                  \
        name, ContactRule::None, 0, 0, 0                                                                               \
    }

QVector<ContactFieldRow> makeRows()
{
    return {
        NONE("OPFContactCopyCategoryList"),
        FIELD("OPFContactCopyHomeWebPage", Text, szHomeWebPage),
        LIST("OPFContactCopyChildren", Children, szChildren),
        LIST("OPFContactCopyEmailAddressList", AddressList, szEmailAddress),
        LIST("OPFContactCopyIMAddressList", AddressList, szIMAddress),
        NONE("OPFContactCopyFirstName"),
        NONE("OPFContactCopyLastName"),
        NONE("OPFContactCopyDefaultEmailAddress"),
        NONE("OPFContactCopyDefaultIMAddress"),
        NONE("OPFContactCopyDisplayName"),
        FIELD("OPFContactCopySetNameSuffix", Text, szNameSuffix),
        FIELD("OPFContactCopyTitle", Text, szTitle),
        FIELD("OPFContactCopyNickName", Text, szNickName),
        FIELD("OPFContactCopyBusinessTitle", Text, szBusinessTitle),
        NONE("OPFContactCopyBusinessOffice"),
        FIELD("OPFContactCopyBusinessCompany", Text, szBusinessCompany),
        FIELD("OPFContactCopyBusinessDepartment", Text, szBusinessDepartment),
        NONE("OPFContactCopyNotes"),
        NONE("OPFContactCopyNotesPlain"),
        FIELD("OPFContactCopyBusinessHomePage", Text, szBusinessHomePage),
        FIELD("OPFContactCopyBirthday", Date, szBirthday),
        NONE("OPFContactCopyBusinessCity"),
        FIELD("OPFContactCopyBusinessCountry", Text, szBusinessCountry),
        FIELD("OPFContactCopyBusinessState", Text, szBusinessState),
        FIELD("OPFContactCopyBusinessStreetAddress", Street, szBusinessStreetAddress),
        FIELD("OPFContactCopyBusinessZip", Text, szBusinessZip),
        FIELD("OPFContactCopyHomeCity", Text, szHomeCity),
        FIELD("OPFContactCopyHomeCountry", Text, szHomeCountry),
        FIELD("OPFContactCopyHomeState", Text, szHomeState),
        FIELD("OPFContactCopyHomeStreetAddress", Text, szHomeStreetAddress),
        FIELD("OPFContactCopyHomeZip", Text, szHomeZip),
        FIELD("OPFContactCopyHomePhone", Text, szHomePhone),
        FIELD("OPFContactCopyHomePhone2", Text, szHomePhone2),
        FIELD("OPFContactCopyHomeFax", Text, szHomeFax),
        FIELD("OPFContactCopyBusinessPhone", Text, szBusinessPhone),
        FIELD("OPFContactCopyBusinessPhone2", Text, szBusinessPhone2),
        FIELD("OPFContactCopyBusinessFax", Text, szBusinessFax),
        FIELD("OPFContactCopyPager", Text, szPager),
        FIELD("OPFContactCopyCellPhone", Text, szCellPhone),
        FIELD("OPFContactMainPhone", Text, szMainPhone),
        FIELD("OPFContactCopyAssistantPhone", Text, szAssistantPhone),
        FIELD("OPFContactCopyCustomPhone1", Text, szCustomPhone1),
        NONE("OPFContactCopyCustomPhone2"),
        FIELD("OPFContactCopyCustomPhone3", Text, szCustomPhone3),
        NONE("OPFContactCopyCustomPhone4"),
        FIELD("OPFContactCopyCustom1Data", Text, szCustom1Data),
        FIELD("OPFContactCopyCustom2Data", Text, szCustom2Data),
        FIELD("OPFContactCopyCustom3Data", Text, szCustom3Data),
        FIELD("OPFContactCopyCustom4Data", Text, szCustom4Data),
        FIELD("OPFContactCustomData5", Text, szCustomData5),
        FIELD("OPFContactCustomData6", Text, szCustomData6),
        FIELD("OPFContactCustomData7", Text, szCustomData7),
        FIELD("OPFContactCustomData8", Text, szCustomData8),
        FIELD("OPFContactCopyCustomDate1", Date, szCustomDate1),
        FIELD("OPFContactCopyCustomDate2", Date, szCustomDate2),
        FIELD("OPFContactCopyAnniversary", Date, szAnniversary),
        FIELD("OPFContactCopySpousesName", Text, szSpousesName),
        FIELD("OPFContactCopyInterests", Text, szInterests),
        NONE("OPFContactAddPicture"),
        NONE("OPFContactCopyMiddleName"),
        ContactFieldRow{"OPFContactCopyAge", ContactRule::Number, offsetof(ContactPreviewFields, nAge),
                        int(sizeof(qint32)), 1},
        FIELD("OPFContactCopyBloodType", Text, szBloodType),
    };
}

#undef FIELD
#undef LIST
#undef NONE

char *fieldAt(ContactPreviewFields *fields, const ContactFieldRow &row, int slot = 0)
{
    return reinterpret_cast<char *>(fields) + row.offset + size_t(slot) * size_t(row.room);
}

// Stores the value whole when its UTF-8 form has 1..maxBytes bytes; never cuts it.
void storeFitting(char *field, const QString &value, int maxBytes)
{
    const QByteArray utf8 = value.toUtf8();
    if (utf8.isEmpty() || utf8.size() > maxBytes)
        return;
    memcpy(field, utf8.constData(), size_t(utf8.size()));
    field[utf8.size()] = '\0';
}

// An attribute value up to its first NUL (damage), as UTF-8, its references undone once.
QString attributeText(std::string_view raw)
{
    const QString text = QString::fromUtf8(raw.data(), int(strnlen(raw.data(), raw.size())));
    return UnescapeXmlEntities(text, EntityForm::Scanned);
}

// One slot per item of a list, read as XML: each contactEmailAddress start tag (paired or
// self-closing) gives its address attribute, each string element its text; comments and CDATA
// hold no item. Values keep their white space.
void storeList(ContactPreviewFields *fields, const ContactFieldRow &row, std::string_view list)
{
    int k = 0;
    const auto store = [&](const QString &item) {
        storeFitting(fieldAt(fields, row, k), item, row.room - 1);
        return ++k < row.slotCount;
    };
    if (row.rule == ContactRule::AddressList) {
        ForEachStartTag(list, "<contactEmailAddress", [&](std::string_view tag) {
            std::string_view raw;
            std::string normalised;
            return store(FindAttribute(tag, "OPFContactEmailAddressAddress", &raw, &normalised) ? attributeText(raw)
                                                                                                : QString());
        });
        return;
    }
    for (ElementSpan entry = GetElementValue(list, "<string"); entry.found; entry = GetElementValue(list, "<string")) {
        if (!store(UnescapeXmlEntities(DecodeElementText(ElementBytes(list, entry), false), EntityForm::Scanned)))
            return;
        list.remove_prefix(size_t(entry.start + entry.length));
    }
}

void storeDate(char *field, const QString &value)
{
    // A day, not an instant: the archive's own day, whatever the machine's zone.
    const QByteArray date = ArchiveDayText(value).toLatin1();
    const int n = qMin(date.size(), 10);
    memcpy(field, date.constData(), size_t(n));
    field[n] = '\0';
}

void storeValue(ContactPreviewFields *fields, const ContactFieldRow &row, const QString &value)
{
    char *field = fieldAt(fields, row);
    switch (row.rule) {
    case ContactRule::Text:
        // The archive escapes "&" and "<" once: undone once, so "&amp;" shows as "&".
        storeFitting(field, UnescapeXmlEntities(value, EntityForm::Scanned), row.room - 1);
        break;
    case ContactRule::Street: {
        QString street = UnescapeXmlEntities(value, EntityForm::Scanned);
        street.replace(QLatin1Char('\n'), QLatin1String("\n "));
        storeFitting(field, street, 510);
        break;
    }
    case ContactRule::Date:
        storeDate(field, value);
        break;
    case ContactRule::Number:
        fields->nAge = value.toInt();
        break;
    default:
        break;
    }
}

}  // namespace

const QVector<ContactFieldRow> &ContactFieldRows()
{
    static const QVector<ContactFieldRow> rows = makeRows();
    return rows;
}

const ElementTagTable &ContactElementTagTable()
{
    static const ElementTagTable table = [] {
        ElementTagTable t;
        for (const ContactFieldRow &row : ContactFieldRows())
            t.append(QByteArray("<") + row.element);
        return t;
    }();
    return table;
}

void ApplyContactRow(ContactPreviewFields *fields, int row, std::string_view raw)
{
    const QVector<ContactFieldRow> &rows = ContactFieldRows();
    if (row < 0 || row >= rows.size() || rows.at(row).rule == ContactRule::None)
        return;
    const ContactFieldRow &r = rows.at(row);
    if (r.rule == ContactRule::AddressList || r.rule == ContactRule::Children) {
        storeList(fields, r, raw);
        return;
    }
    const QString value = DecodeElementText(raw, true);
    if (!value.isEmpty())
        storeValue(fields, r, value);
}

ContactPreviewFields ExtractContactFields(std::string_view item)
{
    ContactPreviewFields fields;
    memset(&fields, 0, sizeof fields);
    ExtractItemElements(item, "</contact>", ContactElementTagTable(),
                        [&](int row, std::string_view raw) { ApplyContactRow(&fields, row, raw); });
    return fields;
}

ContactPreviewFields ReadContactPreviewFields(qint64 llItemOffset, qint64 dwItemLength)
{
    const QByteArray item = ReadItemXml(llItemOffset, dwItemLength);
    return ExtractContactFields(std::string_view(item.constData(), size_t(item.size())));
}

QString ContactNameFromItem(std::string_view item)
{
    for (const char *tag : {"<OPFContactCopyDisplayName", "<OPFContactCopyBusinessCompany"}) {
        const QString name = ElementNameIn(item, tag);
        if (!name.isEmpty())
            return name;
    }
    // The first address of the list, read by the preview's own list rule; a list cut off by a
    // bounded read gives the addresses it holds whole.
    const QVector<ContactFieldRow> &rows = ContactFieldRows();
    for (int row = 0; row < rows.size(); ++row) {
        if (rows.at(row).rule != ContactRule::AddressList)
            continue;
        std::string_view raw;
        if (!ExtractElementValue(item, QByteArray("<") + rows.at(row).element, &raw))
            break;
        ContactPreviewFields fields;
        memset(&fields, 0, sizeof fields);
        ApplyContactRow(&fields, row, raw);
        return QString::fromUtf8(fields.szEmailAddress[0]).trimmed();
    }
    return QString();
}

QString ContactShownName(const char *first, const char *last, std::string_view item)
{
    if (first || last)
        return QString::fromUtf8(first ? first : "") + QLatin1Char(' ') + QString::fromUtf8(last ? last : "");
    return ContactNameFromItem(item);
}
