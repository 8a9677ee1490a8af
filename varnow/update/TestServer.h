// For tests: an HTTP server on 127.0.0.1 with a thread of its own (the check under test may block
// the test's thread), answering every request in the way the test asks for.
#pragma once

#include <QThread>

#include <mutex>
#include <string>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace varnow::test {

class CTestServer {
 public:
  enum class Mode {
    Answer,        // the status line, headers and body set by Answer()
    EndlessBody,   // status 200, then the fill text over and over until the client gives up
    NeverAnswer,   // takes the request and stays silent
  };

  CTestServer();
  ~CTestServer();
  CTestServer(const CTestServer&) = delete;
  CTestServer& operator=(const CTestServer&) = delete;

  // The address of the folder that holds the page: "http://127.0.0.1:<port>/varnow/".
  std::string HomePage() const;
  // headers: more header lines, each ending in "\r\n".
  void Answer(int status, const std::string& body, const std::string& headers = "");
  void SendEndlessBody(const std::string& fill);
  void NeverAnswer();

  // The request lines and headers received so far, one string per request.
  std::vector<std::string> Requests() const;

 private:
  void OnNewConnection();
  void OnReadable(QTcpSocket* socket, std::string& request);
  void Respond(QTcpSocket* socket);

  QThread m_thread;
  QTcpServer* m_server = nullptr;  // lives on m_thread
  unsigned short m_port = 0;
  mutable std::mutex m_mutex;
  Mode m_mode = Mode::Answer;
  int m_status = 200;
  std::string m_body;
  std::string m_headers;
  std::vector<std::string> m_requests;
};

// A port on 127.0.0.1 on which nothing listens.
unsigned short UnusedPort();

}  // namespace varnow::test
