// What a client sees when the task manager cannot be reached: no server registered on the bus,
// or a server that never answers.
#include "taskmgr/taskmgrclient.h"

#include "taskmgr/taskmgrbus.h"
#include "taskmgr/testbus.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QObject>

#include <gtest/gtest.h>

namespace taskmgr {
namespace {

// Owns the name on its own connection; its calls are dispatched on the test's thread, which
// is blocked in the client's call, so they are never answered in time.
class CSilentServer : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.zentrel.IOrvTaskMgr")
 public Q_SLOTS:
  int Lock() { return S_OK; }
};

class ClientFailures : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(m_bus.Address().isEmpty()); }
  test::CPrivateBus m_bus;
};

TEST_F(ClientFailures, NoRegisteredServerIsClassNotRegistered) {
  QDBusConnection connection = QDBusConnection::connectToBus(m_bus.Address(), "client");
  {
    COrvTaskMgrClient client(connection);
    EXPECT_EQ(client.CreateInstance(), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(client.HoldsInstance());
    std::int32_t count = 7;
    EXPECT_EQ(client.GetNumTasks(&count), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(count, 7);
  }
  QDBusConnection::disconnectFromBus("client");
}

TEST_F(ClientFailures, ServerThatNeverAnswersIsAnExecutionFailure) {
  QDBusConnection serverSide = QDBusConnection::connectToBus(m_bus.Address(), "server");
  CSilentServer server;
  ASSERT_TRUE(serverSide.registerObject(kObjectPath, &server, QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(serverSide.registerService(kServiceName));
  QDBusConnection connection = QDBusConnection::connectToBus(m_bus.Address(), "client");
  {
    COrvTaskMgrClient client(connection, 500);
    EXPECT_EQ(client.CreateInstance(), CO_E_SERVER_EXEC_FAILURE);
  }
  QDBusConnection::disconnectFromBus("client");
  QDBusConnection::disconnectFromBus("server");
}

TEST(BusErrors, OtherFailuresAreGeneric) {
  EXPECT_EQ(StatusFromBusError(QDBusError(QDBusError::AccessDenied, "no")), E_FAIL);
  EXPECT_EQ(StatusFromBusError(QDBusError(QDBusError::NoReply, "late")), CO_E_SERVER_EXEC_FAILURE);
}

}  // namespace
}  // namespace taskmgr

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  taskmgr::RegisterTaskMgrTypes();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

#include "taskmgrclient_test.moc"
