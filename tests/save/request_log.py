"""A web server on 127.0.0.1 that notes every request it gets, for the saved-page tests. Prints
its port, serves until its standard input closes (at most 300 s), then prints each request's
method and path, one a line."""
import http.server, sys, threading

requests = []


class Handler(http.server.BaseHTTPRequestHandler):
    def answer(self):
        requests.append('%s %s' % (self.command, self.path))
        self.send_response(404)
        self.send_header('Content-Length', '0')
        self.end_headers()

    do_GET = do_HEAD = do_POST = do_OPTIONS = answer

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
threading.Thread(target=server.serve_forever, daemon=True).start()
print(server.server_address[1], flush=True)
reader = threading.Thread(target=sys.stdin.read, daemon=True)
reader.start()
reader.join(300)
server.shutdown()
for r in requests:
    print(r)
