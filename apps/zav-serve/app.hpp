// The HTTP side of zav-serve: App, its routes, and each request over a connection of ours
// (connections.hpp, guarded_stream.hpp, http_layer.hpp). app.cpp holds the routes and the
// serving of a connection, screen.cpp the screening of a request's head: everything about a
// request that can be judged from its head is judged before its body is read. serve.cpp
// starts the server.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

#include "access_log.hpp"
#include "api/upload.hpp"
#include "connections.hpp"
#include "guarded_stream.hpp"
#include "http_layer.hpp"
#include "metrics.hpp"
#include "page_files.hpp"
#include "receiver.hpp"
#include "signing.hpp"
#include "store_interface.hpp"
#include "uploaders.hpp"
#include "zav/serve.hpp"

namespace zavserve {

// The request being answered on this thread.
struct Exchange {
  Peer peer;
  bool front = false;  // nginx on the Unix socket: its headers speak for the client
  Clock::time_point started;
  ExchangeRecord record;
  std::optional<Uploader> uploader;
  bool store_down = false;  // the credentials could not be looked up
  const GuardedStream* stream = nullptr;
};
extern thread_local Exchange* current;

// Whether `text` is a number of at most 18 decimal digits.
bool AllDigits(const std::string& text);

class App : public HttpServer {
 public:
  App(const zavcli::ServeRequest& r, uid_t front_uid, Receiver& receiver, ReceiptStore& store,
      TokenLookup& tokens, CertificateMap& certificates, Metrics& metrics, const PageFiles& page,
      const ReceiptSigner& signer);

  // One connection: one request, its answer, then the connection is let go. Its head is
  // read first; then it is served if a place among --max-connections is free (health and
  // the date need none), else answered 503 at once.
  void Serve(const Peer& peer, const ConnectionLoop::HeadIn& head_in);

  // A connection over --max-head-connections: 503 at once.
  void Refuse(const Peer& peer);

 private:
  static zav::UploadAnswer TooManyConnections();

  static void Send(Response& res, const zav::UploadAnswer& answer);

  void Finish(ExchangeRecord& record, Clock::time_point started, Clock::time_point answered);

  // Whether the peer on the Unix socket runs as nginx's user, as the kernel says: any other
  // process that may connect (one of nginx's group) is an anonymous client.
  bool FromFront(int fd) const;

  // Before routing: who is asking.
  void Setup(Request& req, Exchange& x);

  std::optional<Uploader> Identify(const Request& req);

  // A lookup of receipts by an identified uploader.
  void Lookup(const Request& req, Response& res,
              const std::function<zav::UploadAnswer(const Uploader&)>& answer);

  // A browser request made by a page of another site.
  bool ForeignOrigin(const Request& req) const;

  // Everything that can be judged from the head, judged before the body is read.
  HandlerResponse Screen(const Request& req, Response& res);

  void Receive(const Request& req, Response& res, const ContentReader& read);

  const zavcli::ServeRequest& r_;
  uid_t front_uid_;
  Receiver& receiver_;
  ReceiptStore& store_;
  TokenLookup& tokens_;
  CertificateMap& certificates_;
  Metrics& metrics_;
  const PageFiles& page_;
};

}  // namespace zavserve
