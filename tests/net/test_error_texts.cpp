// Socket error codes turned into their descriptions.

#include "net/error_texts.h"

#include <QTest>

#include <cstring>

using dazoroz::net::ErrorTextArea;
using dazoroz::net::formatErrorText;

class ErrorTextsTest : public QObject {
    Q_OBJECT

private slots:
    // The table's ends and texts of unusual form, codes outside the table, and codes found
    // through their low 16 bits.
    void format_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("known");
        QTest::newRow("first row") << 10004 << "[10004] Interrupted system call" << true;
        QTest::newRow("as written") << 10066 << "[10066] Directory not empt" << true;
        QTest::newRow("quotes") << 11002
                                << "[11002] Non-authoritative 'Host not found' (try again or "
                                   "check DNS setup)"
                                << true;
        QTest::newRow("last row") << 11004 << "[11004] Valid name, no data record (check DNS setup)"
                                  << true;
        QTest::newRow("unknown") << 12345 << "[12345] (no description available)" << false;
        QTest::newRow("low 16 bits compared")
            << 10061 + 65536 << "[10061] Connection refused" << true;
        QTest::newRow("between rows") << 10072 << "[10072] (no description available)" << false;
        QTest::newRow("zero is the end mark") << 0 << "[0] (no description available)" << false;
        QTest::newRow("negative") << -1 << "[-1] (no description available)" << false;
    }

    void format() {
        QFETCH(int, code);
        QFETCH(QString, text);
        QFETCH(bool, known);
        ErrorTextArea area;
        QCOMPARE(formatErrorText(code, area), known);
        QCOMPARE(QString::fromLatin1(area.data()), text);
    }

    void everyTextFitsItsArea() {
        int known = 0;
        for (int code = 10000; code < 11100; ++code) {
            ErrorTextArea area;
            area.fill('#');
            if (formatErrorText(code, area)) {
                ++known;
            }
            QVERIFY2(std::strlen(area.data()) <= 80, area.data());
        }
        QCOMPARE(known, 50);
    }
};

QTEST_APPLESS_MAIN(ErrorTextsTest)
#include "test_error_texts.moc"