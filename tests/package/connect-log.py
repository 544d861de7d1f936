# A stand-in HTTPS proxy that only writes down where each connection was headed ("CONNECT host:port")
# and refuses it: the one place that sees every address the program tries, TLS or not.
import socket
import sys

server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", 0))
server.listen(16)
print(server.getsockname()[1], flush=True)
while True:
    connection, _ = server.accept()
    with connection:
        head = connection.recv(4096).split(b"\r\n", 1)[0].decode("latin-1")
        print(head, flush=True)
        connection.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
