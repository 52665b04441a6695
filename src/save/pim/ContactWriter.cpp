// Contacts: one vCard 3.0 file (.vcf) per contact, in the output's Contacts folder.

#include "save/MessageFields.h"
#include "save/QMailSavingThread.h"
#include "save/SaveGlobals.h"
#include "save/SaveRun.h"
#include "save/pim/CalendarRules.h"
#include "save/pim/ContactPhoto.h"
#include "save/pim/ItemFileName.h"
#include "save/pim/PimDates.h"
#include "save/pim/PimFiles.h"
#include "save/pim/PimItems.h"
#include "save/pim/PimText.h"
#include "scanner/ElementValue.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <QRegularExpression>
#include <QStringList>

#include <climits>

namespace {

constexpr std::string_view kContactEnd = "</contact>";

struct Phone {
    const char *tag;
    const char *types;
};

const Phone kPhones[] = {
    {"<OPFContactCopyHomePhone", "HOME,VOICE"},
    {"<OPFContactCopyHomePhone2", "HOME,VOICE"},
    {"<OPFContactCopyHomeFax", "HOME,FAX"},
    {"<OPFContactCopyBusinessPhone", "WORK,VOICE"},
    {"<OPFContactCopyBusinessPhone2", "WORK,VOICE"},
    {"<OPFContactCopyBusinessFax", "WORK,FAX"},
    {"<OPFContactCopyCellPhone", "CELL,VOICE"},
    {"<OPFContactMainPhone", "VOICE,PREF"},
    {"<OPFContactCopyPager", "PAGER"},
    {"<OPFContactCopyAssistantPhone", "VOICE"},
    {"<OPFContactCopyOtherPhone", "VOICE"},
    {"<OPFContactCopyOtherFax", "FAX"},
    {"<OPFContactCopyRadioPhone", "VOICE"},
    {"<OPFContactCopyCustomPhone1", "VOICE"},
    {"<OPFContactCopyCustomPhone2", "VOICE"},
    {"<OPFContactCopyCustomPhone3", "VOICE"},
    {"<OPFContactCopyCustomPhone4", "VOICE"},
};

struct Address {
    const char *type;
    const char *prefix;  // element names are prefix + Street/City/State/Zip/Country
};

const Address kAddresses[] = {
    {"WORK", "<OPFContactCopyBusiness"},
    {"HOME", "<OPFContactCopyHome"},
    {"POSTAL", "<OPFContactCopyOther"},
};

// Structured values: each component escaped on its own, joined by ';'.
QString components(const QStringList &parts)
{
    QStringList escaped;
    for (const QString &p : parts)
        escaped << EscapeText(p);
    return escaped.join(QLatin1Char(';'));
}

// Fields no vCard 3.0 property or common extension holds, with their names for the log.
struct LeftOutField {
    const char *tag;
    const char *name;
};

const LeftOutField kLeftOut[] = {
    {"<OPFContactCopyCustom1Data", "Custom 1"},
    {"<OPFContactCopyCustom2Data", "Custom 2"},
    {"<OPFContactCopyCustom3Data", "Custom 3"},
    {"<OPFContactCopyCustom4Data", "Custom 4"},
    {"<OPFContactCustomData5", "Custom 5"},
    {"<OPFContactCustomData6", "Custom 6"},
    {"<OPFContactCustomData7", "Custom 7"},
    {"<OPFContactCustomData8", "Custom 8"},
    {"<OPFContactCopyCustomDate1", "Custom date 1"},
    {"<OPFContactCopyCustomDate2", "Custom date 2"},
    {"<OPFContactCopyBusinessOffice", "business office"},
    {"<OPFContactCopyInterests", "interests"},
    {"<OPFContactCopyAstrologySign", "astrology sign"},
    {"<OPFContactCopyBloodType", "blood type"},
    {"<OPFContactCopyStartDateTime", "follow-up start date"},
    {"<OPFContactCopyDueDateTime", "follow-up due date"},
};

// Every address of the list element, in order, attribute entities undone.
QStringList emailAddresses(std::string_view element, const char *listTag = "<OPFContactCopyEmailAddressList")
{
    QStringList found;
    SplitItems(element, kContactEnd, 0, [&](const ItemPiece &piece) {
        const ElementSpan span = GetElementValue(piece.bytes, listTag);
        if (!span.found)
            return true;
        found.clear();
        const std::string_view list = ElementBytes(piece.bytes, span);
        // Each entry's start tag, whatever its name, read as XML: attributes in any order and
        // quotes, the paired and the self-closing form alike.
        for (size_t at = list.find('<'); at != std::string_view::npos; at = list.find('<', at + 1)) {
            if (at + 1 < list.size() && list[at + 1] == '/')
                continue;
            const size_t skipped = MarkupEnd(list, at);
            if (skipped != std::string_view::npos) {
                at = skipped - 1;  // a comment or CDATA: no entry inside
                continue;
            }
            const size_t end = StartTagLimit(list, at);
            std::string_view raw;
            std::string normalised;
            if (FindAttribute(list.substr(at, end - at), "OPFContactEmailAddressAddress", &raw, &normalised)) {
                const QString address = UnescapeXmlEntities(DecodeTrimmed(raw), EntityForm::Scanned);
                if (!address.isEmpty())
                    found << address;
            }
            at = end - 1;  // the search goes on from the tag's end
        }
        return true;
    });
    return found;
}

// The texts of the <string> entries of a list element (the children's names), in order.
QStringList stringEntries(std::string_view element, const char *listTag)
{
    QStringList found;
    SplitItems(element, kContactEnd, 0, [&](const ItemPiece &piece) {
        const ElementSpan span = GetElementValue(piece.bytes, listTag);
        if (!span.found)
            return true;
        found.clear();
        std::string_view list = ElementBytes(piece.bytes, span);
        for (ElementSpan entry = GetElementValue(list, "<string"); entry.found;
             entry = GetElementValue(list, "<string")) {
            const QString value = ElementText(ElementBytes(list, entry));
            if (!value.isEmpty())
                found << value;
            list.remove_prefix(size_t(entry.start + entry.length));
        }
        return true;
    });
    return found;
}

// An IM address as IMPP wants it, a URI: one without a scheme gets the generic "im:".
QString imUri(const QString &address)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    return scheme.match(address).hasMatch() ? address : QStringLiteral("im:") + address;
}

QString fullName(const QString &display, const QStringList &nameParts, const QStringList &emails,
                 const QString &company)
{
    if (!display.isEmpty())
        return display;
    QStringList words;
    for (const QString &p : nameParts)
        if (!p.isEmpty())
            words << p;
    if (!words.isEmpty())
        return words.join(QLatin1Char(' '));
    if (!company.isEmpty())
        return company;
    return emails.value(0);
}

}  // namespace

QString ItemElementText(std::string_view element, std::string_view closeTag, const char *startTag)
{
    QString value;
    SplitItems(element, closeTag, 0, [&](const ItemPiece &piece) {
        const ElementSpan span = GetElementValue(piece.bytes, startTag);
        if (span.found)
            value = ElementText(ElementBytes(piece.bytes, span));
        return true;
    });
    return value;
}

QByteArray ItemElementBytes(std::string_view element, std::string_view closeTag, const char *startTag)
{
    std::string_view raw;
    SplitItems(element, closeTag, 0, [&](const ItemPiece &piece) {
        const ElementSpan span = GetElementValue(piece.bytes, startTag);
        if (span.found)
            raw = ElementBytes(piece.bytes, span);
        return true;
    });
    std::string storage;
    const std::string_view text = TrimmedUtf8(TextBeforeNul(PlainElementText(raw, &storage)));
    const int size = int(qMin<size_t>(text.size(), INT_MAX));
    // Nothing was undone into storage: the text lies in element itself.
    if (storage.empty() && !text.empty())
        return QByteArray::fromRawData(text.data(), size);
    return QByteArray(text.data(), size);
}

QStringList ItemCategoryNames(std::string_view element, std::string_view closeTag, const char *listTag)
{
    QStringList names;
    SplitItems(element, closeTag, 0, [&](const ItemPiece &piece) {
        const ElementSpan span = GetElementValue(piece.bytes, listTag);
        if (!span.found)
            return true;
        names.clear();
        ForEachStartTag(ElementBytes(piece.bytes, span), "<category", [&](std::string_view tag) {
            std::string_view raw;
            std::string normalised;
            if (FindAttribute(tag, "OPFCategoryCopyName", &raw, &normalised))
                names << UnescapeXmlEntities(DecodeTrimmed(raw), EntityForm::Scanned).trimmed();
            return true;
        });
        return true;
    });
    return names;
}

bool ItemElementUnreadable(std::string_view element, std::string_view closeTag, const char *startTag)
{
    bool read = false;
    SplitItems(element, closeTag, 0, [&](const ItemPiece &piece) {
        read = read || GetElementValue(piece.bytes, startTag).found;
        return !read;
    });
    if (read)
        return false;
    const std::string_view tag(startTag);
    for (size_t at = element.find(tag); at != std::string_view::npos; at = element.find(tag, at + 1)) {
        const size_t next = at + tag.size();
        if (next >= element.size())
            return true;
        const char c = element[next];
        if (c == ' ' || c == '>' || c == '/' || c == '\t' || c == '\r' || c == '\n')
            return true;
    }
    return false;
}

QStringList ContactLosses(std::string_view element)
{
    QStringList lost;
    static const char *const kDates[][2] = {{"birthday", "<OPFContactCopyBirthday"},
                                            {"anniversary", "<OPFContactCopyAnniversary"}};
    for (const auto &date : kDates) {
        const QString stored = ItemElementText(element, kContactEnd, date[1]);
        if (!stored.isEmpty() && ArchiveDateLocalIsoDay(stored).isEmpty())
            lost << QStringLiteral("its %1 (%2) is no real date").arg(QLatin1String(date[0]), stored);
    }
    int pictures = 0;
    ForEachStartTag(element, "<OPFContactAddPicture", [&pictures](std::string_view) {
        ++pictures;
        return true;
    });
    // A card holds one picture: the first.
    if (pictures > 1)
        lost << QStringLiteral("it holds %1 pictures, of which only the first is written").arg(pictures);
    return lost;
}

QByteArray ContactCard(const ContactInformation &rec, const QString &uid, std::string_view element,
                       const QByteArray &notes, QStringList *leftOut, const ContactPhoto *photo,
                       const ZoneRules *archiveZone)
{
    const auto text = [&](const char *tag) { return ItemElementText(element, kContactEnd, tag); };
    // The record keeps names only up to 255 characters; the element has them whole.
    QString first = text("<OPFContactCopyFirstName"), last = text("<OPFContactCopyLastName");
    if (first.isEmpty() && rec.pFirstName)
        first = QString::fromUtf8(rec.pFirstName);
    if (last.isEmpty() && rec.pLastName)
        last = QString::fromUtf8(rec.pLastName);
    const QString middle = text("<OPFContactCopyMiddleName"), prefix = text("<OPFContactCopyTitle"),
                  suffix = text("<OPFContactCopySetNameSuffix"), company = text("<OPFContactCopyBusinessCompany");
    const QStringList emails = emailAddresses(element);

    ContentLines lines;
    lines.add("BEGIN", QByteArray("VCARD"));
    lines.add("VERSION", QByteArray("3.0"));
    lines.add("N", components({last, first, middle, prefix, suffix}));
    const QString fn =
        fullName(text("<OPFContactCopyDisplayName"), {prefix, first, middle, last, suffix}, emails, company);
    lines.add("FN", EscapeText(fn));
    const int nameEnd = lines.bytes().size();
    lines.addText("NICKNAME", text("<OPFContactCopyNickName"));
    const QString department = text("<OPFContactCopyBusinessDepartment");
    if (!company.isEmpty() || !department.isEmpty())
        lines.add("ORG", components({company, department}));
    lines.addText("TITLE", text("<OPFContactCopyBusinessTitle"));
    for (int i = 0; i < emails.size(); ++i)
        lines.add(i == 0 ? QByteArray("EMAIL;TYPE=INTERNET,PREF") : QByteArray("EMAIL;TYPE=INTERNET"),
                  EscapeText(emails.at(i)));
    for (const Phone &phone : kPhones)
        lines.addText(QByteArray("TEL;TYPE=") + phone.types, text(phone.tag));
    for (const Address &a : kAddresses) {
        const auto part = [&](const char *field) { return text((QByteArray(a.prefix) + field).constData()); };
        const QStringList parts{QString(),     QString(),   part("StreetAddress"), part("City"),
                                part("State"), part("Zip"), part("Country")};
        if (!parts.join(QString()).isEmpty())
            lines.add(QByteArray("ADR;TYPE=") + a.type, components(parts));
    }
    lines.addText("URL", text("<OPFContactCopyHomeWebPage"));
    lines.addText("URL;TYPE=WORK", text("<OPFContactCopyBusinessHomePage"));
    const QByteArray birthday = ArchiveDateLocalIsoDay(text("<OPFContactCopyBirthday"), archiveZone);
    if (!birthday.isEmpty())
        lines.add("BDAY", birthday);
    for (const QString &address : emailAddresses(element, "<OPFContactCopyIMAddressList"))
        lines.add("IMPP", EscapeText(imUri(address)));
    const QByteArray anniversary = ArchiveDateLocalIsoDay(text("<OPFContactCopyAnniversary"), archiveZone);
    if (!anniversary.isEmpty())
        lines.add("X-ANNIVERSARY", anniversary);
    lines.addText("X-SPOUSE", text("<OPFContactCopySpousesName"));
    // One line per child: readers take a comma list of an unknown property as its first name.
    for (const QString &child : stringEntries(element, "<OPFContactCopyChildren"))
        lines.addText("X-CHILD", child);
    if (rec.dwNotesLength != 0)
        lines.addStoredText("NOTE", ReadableElementBytes(notes));
    const QByteArray categories = CategoriesValue(
        ItemCategoryNames(element, kContactEnd, "<OPFContactCopyCategoryList"), text("<OPFCategoryCopyName"));
    if (!categories.isEmpty())
        lines.add("CATEGORIES", categories);
    if (photo && !photo->base64.isEmpty())
        lines.add(PhotoProperty(*photo), photo->base64);
    QStringList notHeld;
    for (const LeftOutField &field : kLeftOut) {
        if (!text(field.tag).isEmpty())
            notHeld.append(QLatin1String(field.name));
    }
    if (leftOut)
        *leftOut = notHeld;
    // A card with an empty name and nothing else would be counted as a contact saved.
    if (fn.isEmpty() && lines.bytes().size() == nameEnd && notHeld.isEmpty())
        return QByteArray();
    lines.add("UID", EscapeText(uid));
    lines.add("END", QByteArray("VCARD"));
    return lines.bytes();
}

void QMailSavingThread::OnContactSaving(unsigned long long folderId)
{
    SaveRun *run = currentRun();
    if (!run)
        return;
    const PimFile target{PimItemFolder(run->mail, appmaildata, QStringLiteral("Contacts")), QString(),
                         QStringLiteral(".vcf"), 0, 0};
    const QVector<const ContactInformation *> records = run->contacts.of(qint64(folderId));
    for (int i = 0; i < records.size(); ++i) {
        if (stopRequested())
            return;
        const ContactInformation &rec = *records.at(i);
        reportItem(QStringLiteral("Saving Contacts Folders..."));

        const QByteArray element = ReadArchiveBytes(rec.llItemOffset, rec.dwItemLength);
        const QByteArray notes = LongTextOf(element, rec.llItemOffset, rec.dwNotesOffset, rec.dwNotesLength);
        QString uid;
        const ItemIdentity id =
            run->itemIds.next(std::string_view(element.constData(), size_t(element.size())), "<contact", kContactEnd);
        const PimFile file = ItemFile(target, id.hex.constData(), "Contact", i + 1, &uid);
        const SoundElement sound = SoundElementOf(element, "<contact");
        QString name = QStringLiteral("%1 %2").arg(QString::fromUtf8(rec.pFirstName ? rec.pFirstName : ""),
                                                   QString::fromUtf8(rec.pLastName ? rec.pLastName : ""));
        // A contact known by its display name alone is named by it.
        if (name.trimmed().isEmpty())
            name = ItemElementText(sound.view(), kContactEnd, "<OPFContactCopyDisplayName");
        const QString what = QStringLiteral("Contact \"%1\" (at archive offset %2)")
                                 .arg(name.trimmed(), QString::number(rec.llItemOffset));
        if (!ReadBackIntact(element, rec.dwItemLength) || !ReadBackIntact(notes, rec.dwNotesLength)) {
            NoteUnreadable(run->mail, what, file);
            continue;
        }
        if (sound.nothingWhole) {
            NotePimResult(run->mail, false, what, file.folder, sound.damage);
            continue;
        }
        QStringList leftOut;
        const ContactPhoto photo = ReadContactPhoto(rec.dwPictureOffset, rec.dwPictureLength,
                                                    [](qint64 at, qint64 n) { return ReadArchiveBytes(at, n); });
        const QByteArray card = ContactCard(rec, uid, sound.view(), notes, &leftOut, &photo, &run->archiveZone());
        if (card.isEmpty()) {
            NotePimResult(run->mail, false, what, file.folder,
                          sound.damage.isEmpty()
                              ? QStringLiteral("it holds no name or other field to save")
                              : sound.damage + QStringLiteral("; it holds no name or other field to save"));
            continue;
        }
        QStringList lost;
        if (!sound.damage.isEmpty())
            lost << sound.damage;
        if (!leftOut.isEmpty())
            lost << QStringLiteral("no vCard field holds its ") + leftOut.join(QStringLiteral(", "));
        if (!photo.problem.isEmpty())
            lost << photo.problem;
        lost << ContactLosses(sound.view());
        QString path, error;
        const bool written = WritePimFile(file, card, &path, &error);
        if (written && !lost.isEmpty())
            NotePimIncomplete(run->mail, what, path, lost.join(QStringLiteral("; ")));
        else
            NotePimResult(run->mail, written, what, path, error);
    }
}
