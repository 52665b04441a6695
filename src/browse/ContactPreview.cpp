// The contact preview: the display name in large type, then one section per group of fields
// that holds anything, each a coloured heading and one line per field, and the contact's notes.

#include "browse/BrowseGlobals.h"
#include "browse/BrowsePanes.h"
#include "browse/ContactFields.h"
#include "browse/ItemElements.h"
#include "browse/MailPreview.h"
#include "browse/PreviewArchive.h"
#include "browse/PreviewJob.h"
#include "browse/PreviewWriter.h"
#include "browse/QPreviewOfItems.h"
#include "save/MessageFields.h"
#include "scanner/ScanGlobals.h"

#include <QTextBrowser>
#include <QTreeWidget>
#include <QVector>

#include <cstddef>

namespace {

struct Line {
    QString label;
    QString value;
};
using Lines = QVector<Line>;

// A field's text up to its terminator, never past its room.
template <size_t N>
QString text(const char (&field)[N])
{
    return QString::fromUtf8(field, int(qstrnlen(field, N)));
}

void add(Lines &lines, const QString &label, const QString &value)
{
    if (!value.isEmpty())
        lines.append({label, value});
}

void add(Lines &lines, const char *label, const QString &value)
{
    add(lines, QString::fromLatin1(label), value);
}

template <size_t Count, size_t N>
void addSlots(Lines &lines, const char *label, const char (&items)[Count][N])
{
    // Slots are positional: a gap keeps the numbers of the slots after it.
    for (size_t i = 0; i < Count; ++i)
        add(lines, QStringLiteral("%1 %2 : ").arg(QLatin1String(label)).arg(i + 1), text(items[i]));
}

Lines nameLines(const ContactInformation &r, const ContactPreviewFields &f)
{
    Lines lines;
    if (!r.pFirstName && !r.pLastName)
        return lines;
    add(lines, "Suffix : ", text(f.szNameSuffix));
    if (r.pFirstName)
        lines.append({QStringLiteral("First Name : "), QString::fromUtf8(r.pFirstName)});
    if (r.pLastName)
        lines.append({QStringLiteral("Last Name : "), QString::fromUtf8(r.pLastName)});
    add(lines, "Nickname: ", text(f.szNickName));
    return lines;
}

Lines professionalLines(const ContactPreviewFields &f)
{
    Lines lines;
    add(lines, "Title : ", text(f.szTitle));
    add(lines, "Company : ", text(f.szBusinessCompany));
    return lines;
}

Lines phoneLines(const ContactPreviewFields &f)
{
    Lines lines;
    add(lines, "Home Phone 1 : ", text(f.szHomePhone));
    add(lines, "Home Phone 2 : ", text(f.szHomePhone2));
    add(lines, "Home Fax : ", text(f.szHomeFax));
    add(lines, "Work Phone 1 : ", text(f.szBusinessPhone));
    add(lines, "Work Phone 2 : ", text(f.szBusinessPhone2));
    add(lines, "Work Fax : ", text(f.szBusinessFax));
    add(lines, "Pager : ", text(f.szPager));
    add(lines, "Mobile Phone : ", text(f.szCellPhone));
    add(lines, "Main Phone : ", text(f.szMainPhone));
    add(lines, "Assistant Phone : ", text(f.szAssistantPhone));
    add(lines, "Custom Phone 1 : ", text(f.szCustomPhone1));
    add(lines, "Custom Phone 3 : ", text(f.szCustomPhone3));
    return lines;
}

Lines otherLines(const ContactPreviewFields &f)
{
    Lines lines;
    add(lines, "Job Title : ", text(f.szBusinessTitle));
    add(lines, "Dept : ", text(f.szBusinessDepartment));
    add(lines, "Work Street Address : ", text(f.szBusinessStreetAddress));
    add(lines, "Work State : ", text(f.szBusinessState));
    add(lines, "Work Zip : ", text(f.szBusinessZip));
    add(lines, "Work Country/Region : ", text(f.szBusinessCountry));
    add(lines, "Work URL : ", text(f.szBusinessHomePage));
    add(lines, "Home Street Address : ", text(f.szHomeStreetAddress));
    add(lines, "Home City : ", text(f.szHomeCity));
    add(lines, "Home State : ", text(f.szHomeState));
    add(lines, "Home Zip : ", text(f.szHomeZip));
    add(lines, "Home Country/Region : ", text(f.szHomeCountry));
    add(lines, "Home URL : ", text(f.szHomeWebPage));
    addSlots(lines, "Instant Messaging", f.szIMAddress);
    add(lines, "Custom 1 : ", text(f.szCustom1Data));
    add(lines, "Custom 2 : ", text(f.szCustom2Data));
    add(lines, "Custom 3 : ", text(f.szCustom3Data));
    add(lines, "Custom 4 : ", text(f.szCustom4Data));
    add(lines, "Custom 5 : ", text(f.szCustomData5));
    add(lines, "Custom 6 : ", text(f.szCustomData6));
    add(lines, "Custom 7 : ", text(f.szCustomData7));
    add(lines, "Custom 8 : ", text(f.szCustomData8));
    add(lines, "Custom Date 1 : ", text(f.szCustomDate1));
    add(lines, "Custom Date 2 : ", text(f.szCustomDate2));
    add(lines, "Spouse : ", text(f.szSpousesName));
    add(lines, "Interests : ", text(f.szInterests));
    addSlots(lines, "Childern", f.szChildren);
    add(lines, "Blood : ", text(f.szBloodType));
    // A negative age is a damaged value, not an age: it is left out like a missing one.
    if (f.nAge > 0)
        lines.append({QStringLiteral("Age : "), QString::number(f.nAge)});
    add(lines, "Birthday : ", text(f.szBirthday));
    add(lines, "Anniversary : ", text(f.szAnniversary));
    return lines;
}

// A heading and its lines, or nothing at all when no line is to be written.
void writeSection(PreviewWriter &writer, const char *heading, const Lines &lines)
{
    if (lines.isEmpty())
        return;
    writer.setTextColor(PreviewHeadingColour());
    writer.append(QLatin1String(heading));
    writer.setTextColor(PreviewTextColour());
    for (const Line &line : lines)
        writer.append(line.label + line.value + QLatin1Char('\n'));
}

void writeDisplayName(PreviewWriter &writer, const ContactInformation &r, std::string_view item)
{
    QString name;
    if (r.pFirstName)
        name = QString::fromUtf8(r.pFirstName) + QLatin1Char(' ');
    if (r.pLastName)
        name += QString::fromUtf8(r.pLastName);
    if (name.isEmpty())
        name = ContactNameFromItem(item);
    writer.setTextColor(PreviewTextColour());
    writer.append(QStringLiteral("\n"));
    writer.setFontPointSize(18);
    writer.append(name.isEmpty() ? QStringLiteral("Unknown") : name);
    writer.setFontPointSize(11);
    writer.append(QStringLiteral("\n"));
    writer.setAlignment(Qt::AlignLeft);
}

// The notes are a plain field: shown as typed, references undone once, tags as written.
QString notesText(const ContactInformation &r, const PreviewArchive &archive)
{
    return PreviewLongText(archive.read(r.dwNotesOffset, r.dwNotesLength, kMaxArchiveTextRead), EntityForm::Scanned);
}

// A copy of the contact the job keeps: its names in strings of its own, as the record list may be
// freed while the job runs.
struct ContactCopy {
    ContactInformation record;
    QByteArray firstName;
    QByteArray lastName;
};

void writeContact(PreviewWriter &writer, const ContactCopy &copy, const PreviewArchive &archive)
{
    // The record's names, pointing into the copy's own strings.
    ContactInformation r = copy.record;
    r.pFirstName = copy.firstName.isNull() ? nullptr : const_cast<char *>(copy.firstName.constData());
    r.pLastName = copy.lastName.isNull() ? nullptr : const_cast<char *>(copy.lastName.constData());
    const QByteArray item = archive.read(r.llItemOffset, r.dwItemLength, kMaxArchiveTextRead);
    const ContactPreviewFields fields = ExtractContactFields(std::string_view(item.constData(), size_t(item.size())));
    writeDisplayName(writer, r, std::string_view(item.constData(), size_t(item.size())));
    writeSection(writer, "Contact Name\n", nameLines(r, fields));
    writeSection(writer, "Professional Properties\n", professionalLines(fields));
    Lines mail;
    addSlots(mail, "Email Address", fields.szEmailAddress);
    writeSection(writer, "Email Addresses\n", mail);
    writeSection(writer, "Telephone Numbers and Fax\n", phoneLines(fields));
    writeSection(writer, "Others\n", otherLines(fields));
    if (r.dwNotesLength != 0) {
        writer.setTextColor(PreviewHeadingColour());
        writer.append(QStringLiteral("Description :\n"));
        writer.setTextColor(PreviewTextColour());
        writer.append(QString());
        writer.appendPlain(notesText(r, archive));
    }
}

}  // namespace

void QPreviewOfItems::writePreviewItemsForContact(ContactInformation *record)
{
    ResetItemPreviewPane();
    QTextBrowser *view = Panes().textPreview;
    if (!view)
        return;
    ContactCopy copy{*record, record->pFirstName ? QByteArray(record->pFirstName) : QByteArray(),
                     record->pLastName ? QByteArray(record->pLastName) : QByteArray()};
    copy.record.pNext = nullptr;
    copy.record.pFirstName = copy.record.pLastName = nullptr;
    const std::shared_ptr<const PreviewArchive> archive = PreviewArchive::OfOpenArchive();
    auto write = [copy, archive](PreviewWriter &writer, const std::atomic<bool> &) {
        writeContact(writer, copy, *archive);
    };
    ShowPreviewWritten(view, write,
                       ArchiveReadSize(record->llItemOffset, record->dwItemLength)
                           + ArchiveReadSize(record->dwNotesOffset, record->dwNotesLength));
    FinishItemPreview();
}
