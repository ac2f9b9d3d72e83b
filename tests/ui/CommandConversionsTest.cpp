// The conversions the record commands apply to what the user types: the go-to
// command's strict integer conversion, the extract command's atol reading and
// the search text's GBK form.

#include <QTest>

#include <cstdint>
#include <optional>

#include "MarcCommands.h"

using OptionalInt = std::optional<std::int32_t>;
Q_DECLARE_METATYPE(OptionalInt)

class CommandConversionsTest : public QObject {
    Q_OBJECT
private slots:
    void strictToInt_data();
    void strictToInt();
    void leadingDecimal_data();
    void leadingDecimal();
    void searchText_data();
    void searchText();
};

void CommandConversionsTest::strictToInt_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<OptionalInt>("expected");
    const OptionalInt invalid;

    QTest::newRow("plain") << "7" << OptionalInt(7);
    QTest::newRow("leading spaces skipped") << "   7" << OptionalInt(7);
    QTest::newRow("trailing space refused") << "7 " << invalid;
    QTest::newRow("leading tab refused") << "\t7" << invalid;
    QTest::newRow("empty") << "" << invalid;
    QTest::newRow("spaces only") << "   " << invalid;
    QTest::newRow("sign only") << "-" << invalid;
    QTest::newRow("zero") << "0" << OptionalInt(0);
    QTest::newRow("negative") << "-1" << OptionalInt(-1);
    QTest::newRow("plus sign") << "+12" << OptionalInt(12);
    QTest::newRow("space after sign refused") << "- 1" << invalid;
    QTest::newRow("letter after digits") << "12a" << invalid;
    QTest::newRow("leading zeros") << "0010" << OptionalInt(10);
    QTest::newRow("largest") << "2147483647" << OptionalInt(2147483647);
    QTest::newRow("one past largest") << "2147483648" << invalid;
    QTest::newRow("smallest") << "-2147483648" << OptionalInt(INT32_MIN);
    QTest::newRow("one below smallest") << "-2147483649" << invalid;
    QTest::newRow("wraps to one in 64 bits") << "4294967297" << invalid;
    QTest::newRow("very long") << "99999999999999999999999" << invalid;
    QTest::newRow("dollar hex") << "$A" << OptionalInt(10);
    QTest::newRow("0x hex") << "0x0A" << OptionalInt(10);
    QTest::newRow("0X hex") << "0X1f" << OptionalInt(31);
    QTest::newRow("x hex") << "xff" << OptionalInt(255);
    QTest::newRow("X hex") << "XFF" << OptionalInt(255);
    QTest::newRow("negative hex") << "-$A" << OptionalInt(-10);
    QTest::newRow("eight hex digits are a 32-bit pattern") << "$FFFFFFFF" << OptionalInt(-1);
    QTest::newRow("top bit pattern") << "$80000000" << OptionalInt(INT32_MIN);
    QTest::newRow("nine significant hex digits") << "$100000000" << invalid;
    QTest::newRow("hex leading zeros") << "$000000000A" << OptionalInt(10);
    QTest::newRow("prefix without digits") << "$" << invalid;
    QTest::newRow("0x without digits") << "0x" << invalid;
    QTest::newRow("bad hex digit") << "$G" << invalid;
    QTest::newRow("hex with trailing space") << "$A " << invalid;
    QTest::newRow("full-width digit") << QString::fromUtf8("１") << invalid;
}

void CommandConversionsTest::strictToInt()
{
    QFETCH(QString, typed);
    QFETCH(OptionalInt, expected);
    QCOMPARE(StrictToInt(typed), expected);
}

void CommandConversionsTest::leadingDecimal_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<qint64>("expected");

    QTest::newRow("plain") << "3" << qint64(3);
    QTest::newRow("stops at the first other character") << " 2x" << qint64(2);
    QTest::newRow("white space of every kind") << "\t\n 5" << qint64(5);
    QTest::newRow("no digits") << "abc" << qint64(0);
    QTest::newRow("empty") << "" << qint64(0);
    QTest::newRow("sign") << "-4" << qint64(-4);
    QTest::newRow("plus") << "+4" << qint64(4);
    QTest::newRow("space after sign gives nothing") << "- 4" << qint64(0);
    QTest::newRow("hex is not read") << "0x10" << qint64(0);
    QTest::newRow("beyond 32 bits stays large") << "4294967297" << qint64(4294967297);
    QTest::newRow("beyond 64 bits saturates") << "99999999999999999999999" << qint64(INT64_MAX);
    QTest::newRow("far below saturates") << "-99999999999999999999999" << qint64(-INT64_MAX);
}

void CommandConversionsTest::leadingDecimal()
{
    QFETCH(QString, typed);
    QFETCH(qint64, expected);
    QCOMPARE(LeadingDecimal(typed), expected);
}

void CommandConversionsTest::searchText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("refusal");
    const QString tooLong = QString::fromUtf8(kSearchTextTooLongMessage);
    const QString notGbk = QString::fromUtf8(kSearchTextNotGbkMessage);

    QTest::newRow("ascii") << "abc" << QByteArray("abc") << QString();
    QTest::newRow("chinese as gbk") << QString::fromUtf8("中文") << QByteArray("\xD6\xD0\xCE\xC4") << QString();
    QTest::newRow("empty") << "" << QByteArray() << QString();
    QTest::newRow("255 bytes fit") << QString(255, QLatin1Char('a')) << QByteArray(255, 'a') << QString();
    QTest::newRow("256 bytes refused") << QString(256, QLatin1Char('a')) << QByteArray() << tooLong;
    QTest::newRow("128 chinese characters are 256 bytes") << QString(128, QChar(0x4E2D)) << QByteArray() << tooLong;
    QTest::newRow("hangul") << QString::fromUtf8("한") << QByteArray() << notGbk;
    QTest::newRow("emoji among gbk") << QString::fromUtf8("中😀") << QByteArray() << notGbk;
}

void CommandConversionsTest::searchText()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, refusal);
    const EncodedSearchText encoded = EncodeSearchText(typed);
    QCOMPARE(encoded.refusal, refusal);
    QCOMPARE(encoded.bytes, bytes);
}

QTEST_GUILESS_MAIN(CommandConversionsTest)
#include "CommandConversionsTest.moc"
