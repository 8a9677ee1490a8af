#include "varnow/update/TestServer.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

namespace varnow::test {

namespace {
const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    default: return "Other";
  }
}
}  // namespace

CTestServer::CTestServer() : m_server(new QTcpServer) {
  m_server->moveToThread(&m_thread);
  m_thread.start();
  QMetaObject::invokeMethod(
      m_server,
      [this] {
        m_server->listen(QHostAddress::LocalHost, 0);
        m_port = m_server->serverPort();
        QObject::connect(m_server, &QTcpServer::newConnection, m_server, [this] { OnNewConnection(); });
      },
      Qt::BlockingQueuedConnection);
}

CTestServer::~CTestServer() {
  QMetaObject::invokeMethod(m_server, [this] { delete m_server; }, Qt::BlockingQueuedConnection);
  m_thread.quit();
  m_thread.wait();
}

std::string CTestServer::HomePage() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/varnow/"; }

void CTestServer::Answer(int status, const std::string& body, const std::string& headers) {
  std::lock_guard lock(m_mutex);
  m_mode = Mode::Answer;
  m_status = status;
  m_body = body;
  m_headers = headers;
}

void CTestServer::SendEndlessBody(const std::string& fill) {
  std::lock_guard lock(m_mutex);
  m_mode = Mode::EndlessBody;
  m_body = fill;
}

void CTestServer::NeverAnswer() {
  std::lock_guard lock(m_mutex);
  m_mode = Mode::NeverAnswer;
}

std::vector<std::string> CTestServer::Requests() const {
  std::lock_guard lock(m_mutex);
  return m_requests;
}

void CTestServer::OnNewConnection() {
  while (QTcpSocket* socket = m_server->nextPendingConnection()) {
    auto request = std::make_shared<std::string>();
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] { OnReadable(socket, *request); });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
  }
}

void CTestServer::OnReadable(QTcpSocket* socket, std::string& request) {
  const bool complete = request.find("\r\n\r\n") != std::string::npos;
  request += socket->readAll().toStdString();
  if (complete || request.find("\r\n\r\n") == std::string::npos) return;  // the request has no body
  {
    std::lock_guard lock(m_mutex);
    m_requests.push_back(request.substr(0, request.find("\r\n\r\n")));
  }
  Respond(socket);
}

void CTestServer::Respond(QTcpSocket* socket) {
  std::lock_guard lock(m_mutex);
  if (m_mode == Mode::NeverAnswer) return;
  if (m_mode == Mode::EndlessBody) {
    socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
    const QByteArray fill = QByteArray::fromStdString(m_body);
    // Keeps a little ahead of the client until it closes the connection.
    auto more = [socket, fill] {
      while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 65536) socket->write(fill);
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, more);
    more();
    return;
  }
  const std::string head = "HTTP/1.1 " + std::to_string(m_status) + " " + Reason(m_status) +
                           "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(m_body.size()) +
                           "\r\n" + m_headers + "Connection: close\r\n\r\n";
  socket->write(QByteArray::fromStdString(head + m_body));
  socket->disconnectFromHost();
}

unsigned short UnusedPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  const unsigned short port = probe.serverPort();
  probe.close();
  return port;
}

}  // namespace varnow::test
