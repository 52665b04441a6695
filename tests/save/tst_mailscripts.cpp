// Mail text in many scripts: which charset a body's stored bytes are read in when some bytes are
// damaged, and the encoded words of subjects and names that GMime readers show whole.

#include "save/mail/MailHeaders.h"
#include "save/mail/MailMimeParts.h"

#include <QRandomGenerator>
#include <QTextCodec>
#include <QtTest>

namespace {

struct ScriptText {
    const char *name;
    QString text;
};

QString decomposed(const QString &text)
{
    return text.normalized(QString::NormalizationForm_D);
}

// A few sentences as people write them, some decomposed as text from a Mac often is.
QVector<ScriptText> scriptTexts()
{
    return {
        {"French, decomposed",
         decomposed(QStringLiteral("Chère Hélène, l’élève a réussi l’épreuve. Le café était délicieux, à bientôt !"))},
        {"Portuguese, decomposed",
         decomposed(QStringLiteral("Olá João, a reunião de sexta-feira é às dez horas. Não se esqueça da ação."))},
        {"German, decomposed", decomposed(QStringLiteral("Grüße aus München! Die Bären im Zoo sind müde, schöne Woche."))},
        {"Vietnamese, decomposed",
         decomposed(QStringLiteral("Chào anh, cuộc họp sẽ diễn ra vào thứ Sáu. Xin cảm ơn và hẹn gặp lại."))},
        {"IPA", QStringLiteral("ðə kwɪk braʊn fɒks dʒʌmps ˈoʊvər ðə ˈleɪzi dɔɡ; ʃiː sɛlz siː ʃɛlz")},
        {"Syriac", QStringLiteral("ܫܠܡܐ ܠܟ ܐܚܝ ܚܒܝܒܐ. ܟܬܒܐ ܕܫܕܪܬ ܡܛܐ ܠܝ ܝܘܡܢܐ.")},
        {"Thaana", QStringLiteral("ތިޔަ ފޮނުއްވި ސިޓީއަށް ޝުކުރިއްޔާ. ބައްދަލުވުން ހުކުރު ދުވަހު.")},
        {"NKo", QStringLiteral("ߊ߲ ߣߌ߫ ߛߏ߬ߡߊ߬ ߞߊ߬ ߕߊ߯. ߒ ߓߊ߯ ߊ߬ ߟߐ߲߫ ߞߏߢߍ߲߫.")},
        {"English, curly quotes",
         QStringLiteral("Hi Tom, I don’t think we’ll make it on Friday. It’s been a long week, hasn’t it?")},
        {"Emoji", QStringLiteral("👍 🎉 ✅ 😀 🙏 🚀 ❤️ 👩‍👧 🌍 🎂")},
        {"Russian", QStringLiteral("Уважаемый Иван Петрович, спасибо за письмо. Встреча в пятницу.")},
        {"Greek", QStringLiteral("Αγαπητέ Αλέξανδρε, ευχαριστώ για το μήνυμα. Τα λέμε την Παρασκευή.")},
        {"Arabic", QStringLiteral("مرحبا، الاجتماع يوم الجمعة في الساعة العاشرة صباحا.")},
        {"Hebrew", QStringLiteral("שלום, הפגישה ביום שישי בשעה עשר בבוקר.")},
        {"Chinese", QStringLiteral("会议改到星期五上午十点，请准时参加。")},
        {"Japanese", QStringLiteral("会議は金曜日の午前十時に変更されました。よろしくお願いします。")},
        {"Korean", QStringLiteral("회의는 금요일 오전 열 시로 변경되었습니다. 감사합니다.")},
        {"Thai", QStringLiteral("ประชุมวันศุกร์ เวลาสิบโมง ห้องประชุมใหญ่ชั้นสาม")},
        {"Devanagari", QStringLiteral("बैठक शुक्रवार सुबह दस बजे होगी। कृपया समय पर आएँ।")},
        {"Bengali", QStringLiteral("সভা শুক্রবার সকাল দশটায় হবে। অনুগ্রহ করে সময়মতো আসুন।")},
        {"Polish", QStringLiteral("Zażółć gęślą jaźń, prosimy o odpowiedź do piątku.")},
        {"Georgian", QStringLiteral("შეხვედრა პარასკევს ათ საათზე გაიმართება.")},
        {"Armenian", QStringLiteral("Հանդիպումը ուրբաթ օրը ժամը տասին է։")},
    };
}

// The byte offsets where a character starts, `count` of them spread over the text.
QVector<int> spreadStarts(const QByteArray &utf8, int count)
{
    QVector<int> starts;
    for (int i = 1; i < utf8.size(); ++i) {
        if ((quint8(utf8.at(i)) & 0xC0) != 0x80)
            starts << i;
    }
    QVector<int> picked;
    for (int k = 0; k < count; ++k)
        picked << starts.at((k * 2 + 1) * starts.size() / (count * 2));
    return picked;
}

// The text with an FF byte (no part of any UTF-8 character) before each place, from the last so
// the earlier places stay put; and the same with a replacement character.
void insertBadBytes(const QByteArray &utf8, const QVector<int> &places, QByteArray *stored, QString *expected)
{
    *stored = utf8;
    QByteArray marked = utf8;
    for (int k = places.size() - 1; k >= 0; --k) {
        stored->insert(places.at(k), '\xFF');
        marked.insert(places.at(k), "\xEF\xBF\xBD");
    }
    *expected = QString::fromUtf8(marked);
}

// The [start, end) of the UTF-8 character holding byte `at`.
QPair<int, int> characterAround(const QByteArray &utf8, int at)
{
    int start = at;
    while (start > 0 && (quint8(utf8.at(start)) & 0xC0) == 0x80)
        --start;
    int end = at + 1;
    while (end < utf8.size() && (quint8(utf8.at(end)) & 0xC0) == 0x80)
        ++end;
    return {start, end};
}

// An independent reader of encoded words: B and Q, UTF-8 only.
QByteArray decodeWord(const QByteArray &word)
{
    const QByteArray text = word.mid(10, word.size() - 12);
    if (word.startsWith("=?UTF-8?B?"))
        return QByteArray::fromBase64(text);
    QByteArray out;
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == '_')
            out += ' ';
        else if (text.at(i) == '=' && i + 2 < text.size())
            out += char(text.mid(i + 1, 2).toInt(nullptr, 16)), i += 2;
        else
            out += text.at(i);
    }
    return out;
}

}  // namespace

class MailScriptsTest : public QObject {
    Q_OBJECT
private slots:
    void damagedBody_data();
    void damagedBody();
    void flippedBit_data();
    void flippedBit();
    void windows1252Body_data();
    void windows1252Body();
    void headerWords_data();
    void headerWords();
    void headerWordsOfAnyBytes();
};

void MailScriptsTest::damagedBody_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("replaced");
    for (const ScriptText &s : scriptTexts()) {
        const QByteArray utf8 = s.text.toUtf8();
        QTest::addRow("%s, whole", s.name) << utf8 << s.text << 0;
        for (const int bad : {1, 5}) {
            QByteArray stored;
            QString text;
            insertBadBytes(utf8, spreadStarts(utf8, bad), &stored, &text);
            QTest::addRow("%s, %d bad bytes", s.name, bad) << stored << text << bad;
        }
    }
    QTest::newRow("a short Russian reply, one bad byte") << QByteArray("\xD0\x94\xD0\xB0\xFF") << QStringLiteral("Да\uFFFD")
                                                         << 1;
    // One curly apostrophe outweighs one bad byte: Windows-1252 prose hardly forms three bytes of UTF-8.
    QTest::newRow("English, one apostrophe and one bad byte")
        << QByteArray("Hi\xFF Tom, I don\xE2\x80\x99t think so.") << QStringLiteral("Hi\uFFFD Tom, I don’t think so.")
        << 1;
}

// UTF-8 text in any script with a few damaged bytes is read as UTF-8, one replacement
// character for each, and the report says how many.
void MailScriptsTest::damagedBody()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, text);
    QFETCH(int, replaced);
    BodyReading reading;
    QCOMPARE(DecodeBodyText(stored, &reading), text);
    QCOMPARE(reading.replacedBytes, replaced);
    QCOMPARE(reading.utf8Characters, 0);
    const BodyPart part = PrepareBodyBytes(stored, false);
    QCOMPARE(QString::fromUtf8(part.bytes), text);
    QCOMPARE(BodyReadingLine(part.reading).isEmpty(), replaced == 0);
}

void MailScriptsTest::flippedBit_data()
{
    QTest::addColumn<QByteArray>("original");
    QTest::addColumn<int>("at");
    QTest::addColumn<int>("bit");
    for (const ScriptText &s : scriptTexts()) {
        const QByteArray utf8 = s.text.toUtf8();
        for (int k = 0; k < 40; ++k) {
            const int at = (k * 2 + 1) * utf8.size() / 80;
            QTest::addRow("%s, byte %d", s.name, at) << utf8 << at << (k * 3) % 8;
        }
    }
}

// One flipped bit changes the character that holds it and nothing else: the body stays UTF-8.
void MailScriptsTest::flippedBit()
{
    QFETCH(QByteArray, original);
    QFETCH(int, at);
    QFETCH(int, bit);
    QByteArray stored = original;
    // Stored bodies lose their NULs before they are read: a blank flipped to one is flipped elsewhere.
    stored[at] = char(stored.at(at) ^ (1 << (original.at(at) == char(1 << bit) ? bit + 1 : bit)));
    const QPair<int, int> around = characterAround(original, at);
    const QString before = QString::fromUtf8(original.left(around.first));
    const QString after = QString::fromUtf8(original.mid(around.second));
    BodyReading reading;
    const QString text = DecodeBodyText(stored, &reading);
    QVERIFY2(text.startsWith(before) && text.endsWith(after), qPrintable(text));
    QVERIFY2(text.size() - before.size() - after.size() <= 4, qPrintable(text));
    QCOMPARE(reading.replacedBytes, int(text.count(QChar(QChar::ReplacementCharacter))));
    QCOMPARE(reading.utf8Characters, 0);
}

void MailScriptsTest::windows1252Body_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("utf8Characters");
    QTextCodec *const windows1252 = QTextCodec::codecForName("Windows-1252");
    QVERIFY(windows1252);
    const QByteArray prose = windows1252->fromUnicode(
        QStringLiteral("Sehr geehrte Frau Müller, das Angebot über 1.250\u00a0€ liegt bei – wie besprochen – "
                       "„Kunde Nord“. Grüße aus München, FUSSWEG\u00a0» CAFÉ\u00a0! JOSÉ» Fuß–Weg „Spaß“"));
    for (const int bad : {0, 1, 5}) {
        QByteArray stored;
        QString unused;
        insertBadBytes(prose, bad ? spreadStarts(prose, bad) : QVector<int>(), &stored, &unused);
        QTest::addRow("Windows-1252 prose, %d FF bytes", bad) << stored << 0;
    }
    for (int k = 0; k < 40; ++k) {
        QByteArray stored = prose;
        const int at = (k * 2 + 1) * prose.size() / 80;
        const int bit = (k * 3) % 8;
        stored[at] = char(stored.at(at) ^ (1 << (prose.at(at) == char(1 << bit) ? bit + 1 : bit)));
        QTest::addRow("Windows-1252 prose, bit flipped at byte %d", at) << stored << -1;
    }
    // Quotes pasted from a UTF-8 text into Windows-1252 prose: read as Windows-1252, and said so.
    QTest::newRow("Windows-1252 prose with UTF-8 quotes")
        << prose + " \xE2\x80\x9Cok\xE2\x80\x9D" << 2;
    QTest::newRow("capitals and punctuation only")
        << windows1252->fromUnicode(QStringLiteral("„SCHÖN“ – «JOSÉ» CAFÉ\u00a0! MALMÖ\u00a0C ÀÉ…")) << 0;
}

// Windows-1252 prose stays Windows-1252 whatever pairs of UTF-8 its capitals and punctuation form.
void MailScriptsTest::windows1252Body()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, utf8Characters);
    QTextCodec *const windows1252 = QTextCodec::codecForName("Windows-1252");
    BodyReading reading;
    QCOMPARE(DecodeBodyText(stored, &reading), windows1252->toUnicode(stored));
    QCOMPARE(reading.replacedBytes, 0);
    if (utf8Characters >= 0)
        QCOMPARE(reading.utf8Characters, utf8Characters);
    QCOMPARE(BodyReadingLine(reading).isEmpty(), reading.utf8Characters == 0);
}

void MailScriptsTest::headerWords_data()
{
    QTest::addColumn<QString>("text");
    const QList<QPair<const char *, QString>> phrases{
        {"Thai", QStringLiteral("ประชุมวันศุกร์ เวลาสิบโมง ห้องประชุมใหญ่ชั้นสาม ")},
        {"Bengali", QStringLiteral("সভা শুক্রবার সকাল দশটায় হবে ")},
        {"Devanagari", QStringLiteral("बैठक शुक्रवार सुबह दस बजे होगी ")},
        {"Thai without blanks", QStringLiteral("ประชุมวันศุกร์เวลาสิบโมงห้องประชุมใหญ่ชั้นสาม")},
        {"mixed scripts", QStringLiteral("Report ประชุม সভা बैठक 会議 😀 Отчёт a ")},
        {"blanks before three-byte runs", QStringLiteral(" ห้องประชุมใหญ่ชั้นสามห้องประชุมใหญ่ชั้นสาม")},
    };
    for (const auto &p : phrases) {
        for (const int length : {20, 40, 80, 300, 1000, 5000}) {
            QString text;
            while (text.size() < length)
                text += p.second;
            text.truncate(length);
            if (text.at(text.size() - 1).isHighSurrogate())
                text.chop(1);
            QTest::addRow("%s, %d characters", p.first, length) << text;
        }
    }
}

// No base64 word but the last ends in padding (GMime drops what follows one), none is longer
// than 75 characters or splits a character, and together they are the text.
void MailScriptsTest::headerWords()
{
    QFETCH(QString, text);
    const QByteArray utf8 = text.toUtf8();
    for (const QByteArray &words : {EncodedWords(text, "\r\n "), EncodeSubjectWord(utf8.constData(), "\r\n ")}) {
        const QList<QByteArray> lines = words.split('\n');
        QByteArray joined;
        for (int i = 0; i < lines.size(); ++i) {
            const QByteArray word = lines.at(i).trimmed();
            QVERIFY2((word.startsWith("=?UTF-8?B?") || word.startsWith("=?UTF-8?Q?")) && word.endsWith("?=")
                         && word.size() <= 75,
                     word.constData());
            if (i + 1 < lines.size())
                QVERIFY2(!word.endsWith("=?="), word.constData());
            const QByteArray bytes = decodeWord(word);
            QCOMPARE(QString::fromUtf8(bytes).toUtf8(), bytes);
            joined += bytes;
        }
        QCOMPARE(joined, utf8);
    }
}

// A stored subject is encoded as its bytes are, UTF-8 or not: a Thai subject with damaged bytes
// keeps the same rules.
void MailScriptsTest::headerWordsOfAnyBytes()
{
    QRandomGenerator random(85);
    const QByteArray thai = QStringLiteral("ประชุมวันศุกร์ เวลาสิบโมง ห้องประชุมใหญ่ชั้นสาม ").toUtf8();
    for (int round = 0; round < 300; ++round) {
        QByteArray subject = thai.repeated(1 + round % 20).mid(int(random.bounded(thai.size())));
        for (int k = 0; k <= subject.size() / 50; ++k)
            subject[int(random.bounded(subject.size()))] = char(random.bounded(1, 256));
        const QList<QByteArray> lines = EncodeSubjectWord(subject.constData(), "\n ").split('\n');
        QByteArray joined;
        for (int i = 0; i < lines.size(); ++i) {
            const QByteArray word = lines.at(i).trimmed();
            QVERIFY2(word.size() <= 75 && (i + 1 == lines.size() || !word.endsWith("=?=")), word.constData());
            joined += decodeWord(word);
        }
        QCOMPARE(joined, subject);
    }
}

QTEST_GUILESS_MAIN(MailScriptsTest)
#include "tst_mailscripts.moc"
