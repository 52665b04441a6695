#pragma once
// The contact fields the contact preview prints, cut out of the contact's XML element.

#include "browse/ItemElements.h"

#include <QVector>
#include <QtGlobal>

#include <cstddef>
#include <string_view>

// Fixed rooms of NUL-terminated UTF-8 text; a value is stored only when it fits whole (a longer
// one leaves the field as it was). List slots are positional: slot k holds item k.
struct ContactPreviewFields {
    char szHomeWebPage[128];
    char szChildren[3][128];
    char szEmailAddress[13][128];
    char szIMAddress[13][128];
    char szNameSuffix[8];
    char szTitle[118];
    char szNickName[256];
    char szBusinessTitle[128];
    char szBusinessCompany[256];
    char szBusinessDepartment[128];
    char szBusinessHomePage[128];
    char szBirthday[12];
    char szBusinessCountry[64];
    char szBusinessState[128];
    char szBusinessStreetAddress[512];
    char szBusinessZip[32];
    char szHomeCity[256];
    char szHomeCountry[64];
    char szHomeState[128];
    char szHomeStreetAddress[256];
    char szHomeZip[32];
    char szHomePhone[128];
    char szHomePhone2[128];
    char szHomeFax[128];
    char szBusinessPhone[64];
    char szBusinessPhone2[64];
    char szBusinessFax[64];
    char szPager[64];
    char szCellPhone[64];
    char szMainPhone[64];
    char szAssistantPhone[64];
    char szCustomPhone1[64];
    char szCustomPhone3[64];
    char szCustom1Data[64];
    char szCustom2Data[64];
    char szCustom3Data[64];
    char szCustom4Data[64];
    char szCustomData5[64];
    char szCustomData6[64];
    char szCustomData7[64];
    char szCustomData8[64];
    char szCustomDate1[12];
    char szCustomDate2[12];
    char szAnniversary[11];
    char szSpousesName[256];
    char szInterests[128];
    qint32 nAge;
    char szBloodType[3];
};

enum class ContactRule {
    None,         // searched, nothing stored
    Text,         // trimmed value as written
    Street,       // trimmed, "\n" -> "\n ", at most 510 bytes
    Date,         // local "YYYY-MM-DD" of the value
    Number,       // QString::toInt, 0 when it is not a number
    AddressList,  // one slot per contactEmailAddress item: its address
    Children,     // one slot per string item: its text
};

// One row of the contact's tag table and the field its value goes to.
struct ContactFieldRow {
    const char *element;  // element name, without '<'
    ContactRule rule;
    size_t offset;  // of the field in ContactPreviewFields (unused for None)
    int room;       // bytes of the field or of one slot, terminator included
    int slotCount;  // 1, or the slot count of a list
};

// The 62 rows in processing order.
const QVector<ContactFieldRow> &ContactFieldRows();
const ElementTagTable &ContactElementTagTable();

// The contact handler: stores row's value (raw element text) by its rule.
void ApplyContactRow(ContactPreviewFields *fields, int row, std::string_view raw);

// Fields of every contact closed by "</contact>" in item; later contacts overwrite earlier.
ContactPreviewFields ExtractContactFields(std::string_view item);

// The same, read from the archive at the contact record's item span.
ContactPreviewFields ReadContactPreviewFields(qint64 llItemOffset, qint64 dwItemLength);

// A contact without a first or last name is listed and titled by its display name, else its
// company, else its first address, as its card's name is; empty when it holds none. item is the
// contact's element, or its head as a bounded read gives it.
QString ContactNameFromItem(std::string_view item);
// "first last" (either may be absent) when the contact has one of them, else ContactNameFromItem.
QString ContactShownName(const char *first, const char *last, std::string_view item);
