#!/usr/bin/env python3
"""Loopback servers for the Wine tests.

Listens on 127.0.0.1: a plain echo port, one TLS echo port per certificate given,
and a sink port. An echo connection gets back what it sends; a piece holding the
line "LATER" comes back after 0.3 s; after a line "QUIT" the server closes the
connection (a TLS connection with a close_notify first). A sink connection never
gets anything: what it sends is read and dropped, and when it ends the server
prints "sink: N bytes". Once everything listens, writes one line "NAME PORT" per
server to PORTS_FILE: "plain", the name of each certificate, "sink", and
"refused", a port where nothing listens.
"""
import argparse
import os
import socket
import ssl
import threading
import time


def echo(conn):
    try:
        tail = b""
        while True:
            data = conn.recv(65536)
            if not data:
                return
            if b"LATER\r\n" in data:
                time.sleep(0.3)
            conn.sendall(data)
            tail = (tail + data)[-6:]
            if tail == b"QUIT\r\n":
                break
        if isinstance(conn, ssl.SSLSocket):
            conn.settimeout(2)
            conn.unwrap()
    except (OSError, ValueError):
        pass
    finally:
        conn.close()


def sink(conn):
    received = 0
    try:
        while True:
            data = conn.recv(65536)
            if not data:
                break
            received += len(data)
    except OSError:
        pass
    finally:
        conn.close()
    print(f"sink: {received} bytes", flush=True)


def serve(listener, context):
    while True:
        conn, _ = listener.accept()

        def handle(conn=conn):
            try:
                if context:
                    conn.settimeout(10)
                    conn = context.wrap_socket(conn, server_side=True)
                    conn.settimeout(None)
            except (OSError, ssl.SSLError):
                conn.close()
                return
            echo(conn)

        threading.Thread(target=handle, daemon=True).start()


def serve_sink(listener):
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=sink, args=(conn,), daemon=True).start()


def listen():
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    return listener


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("ports_file")
    parser.add_argument("certificates", nargs="*", metavar="NAME=CERT:KEY")
    args = parser.parse_args()

    names = ["plain"]
    contexts = [None]
    for entry in args.certificates:
        name, pair = entry.split("=", 1)
        cert, key = pair.split(":")
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        names.append(name)
        contexts.append(context)
    listeners = [listen() for _ in contexts]
    sink_listener = listen()
    with listen() as unused:
        refused = unused.getsockname()[1]
    ports = [(n, l.getsockname()[1]) for n, l in zip(names, listeners)]
    ports += [("sink", sink_listener.getsockname()[1]), ("refused", refused)]

    threads = [threading.Thread(target=serve, args=(l, c), daemon=True) for l, c in zip(listeners, contexts)]
    threads.append(threading.Thread(target=serve_sink, args=(sink_listener,), daemon=True))
    for thread in threads:
        thread.start()
    with open(args.ports_file + ".tmp", "w") as out:
        out.writelines(f"{name} {port}\n" for name, port in ports)
    os.rename(args.ports_file + ".tmp", args.ports_file)
    for thread in threads:
        thread.join()


if __name__ == "__main__":
    main()
