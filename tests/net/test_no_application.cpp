// Without an event loop to deliver notifications, the port cannot be created, and says so with
// its own error: on a thread that has no current loop, and on Qt's loop without a Qt
// application object.

#include "net/qt_event_loop.h"
#include "net/socket_library.h"
#include "net/vlm_ipport.h"

#include <QTest>

#include <functional>
#include <memory>

using namespace dazoroz::net;

using PortMaker = std::function<std::unique_ptr<TvlmIPPort>()>;
Q_DECLARE_METATYPE(PortMaker)

class NoApplicationTest : public QObject {
    Q_OBJECT

private slots:
    void constructionFails_data() {
        QTest::addColumn<PortMaker>("make");
        QTest::newRow("no current loop")
            << PortMaker([] { return std::make_unique<TvlmIPPort>(); });
        QTest::newRow("Qt's loop, no application")
            << PortMaker([] { return std::make_unique<TvlmIPPort>(QtEventLoop::instance()); });
    }

    void constructionFails() {
        QFETCH(PortMaker, make);
        try {
            make();
            QFAIL("created without an event loop");
        } catch (const EvlmIPPort& e) {
            QCOMPARE(e.Code, -1);
            QCOMPARE(std::string(e.what()), "-1: Velmora IPPort: Error creating component");
        }
        QCOMPARE(socketLibrary().loadCount, 0); // nothing was left loaded
        QCOMPARE(posixOpenSocketCount(), std::size_t{0});
    }

    void errorClasses() {
        // The base component raises its base error; the port raises its own class.
        TvlmCore core;
        try {
            std::rethrow_exception(core.CreateError(5, "Five."));
        } catch (const EvlmIPPort&) {
            QFAIL("the base component raised the port's error");
        } catch (const EComponentError& e) {
            QCOMPARE(e.Code, 5);
            QCOMPARE(std::string(e.what()), "5: Five.");
        }
    }
};

QTEST_APPLESS_MAIN(NoApplicationTest)
#include "test_no_application.moc"
