// How the record commands read typed numbers: the go-to command's strict integer
// conversion and the extract command's atol reading, side by side.

#include <QTest>

#include <cstdint>
#include <optional>

#include "MarcCommands.h"

using OptionalInt = std::optional<std::int32_t>;
Q_DECLARE_METATYPE(OptionalInt)

class CommandConversionsTest : public QObject {
    Q_OBJECT
private slots:
    void conversions_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<OptionalInt>("strict");
        QTest::addColumn<qint64>("atol");
        const OptionalInt invalid;

        QTest::newRow("trailing space") << "7 " << invalid << qint64(7);
        QTest::newRow("empty") << "" << invalid << qint64(0);
        QTest::newRow("space after sign") << "- 1" << invalid << qint64(0);
        QTest::newRow("one past largest") << "2147483648" << invalid << qint64(2147483648);
        QTest::newRow("wraps to one in 32 bits") << "4294967297" << invalid << qint64(4294967297);
        QTest::newRow("0X hex") << "0X1f" << OptionalInt(31) << qint64(0);
        QTest::newRow("X hex") << "XFF" << OptionalInt(255) << qint64(0);
        QTest::newRow("negative hex") << "-$A" << OptionalInt(-10) << qint64(0);
        QTest::newRow("eight hex digits are a 32-bit pattern") << "$FFFFFFFF" << OptionalInt(-1) << qint64(0);
        QTest::newRow("nine significant hex digits") << "$100000000" << invalid << qint64(0);
    }

    void conversions()
    {
        QFETCH(QString, typed);
        QFETCH(OptionalInt, strict);
        QFETCH(qint64, atol);
        QCOMPARE(StrictToInt(typed), strict);
        QCOMPARE(LeadingDecimal(typed), atol);
    }
};

QTEST_GUILESS_MAIN(CommandConversionsTest)
#include "CommandConversionsTest.moc"
