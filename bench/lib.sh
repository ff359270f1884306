# Shell helpers of the load scripts in bench/, sourced after `root` is set to the
# source tree.

# A loopback port nobody listens on right now.
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# Waits up to 30 s for something to listen on the port.
wait_port() {
  for _ in $(seq 1 300); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "nothing listens on port $1" >&2
  return 1
}

# A fresh application directory: the installed tree with its first-run stores,
# the executable beside it, and the first-run configuration naming the port.
install_app_copy() {  # directory, executable, port
  mkdir -p "$1"
  cp -r "$root/app/." "$1/"
  cp "$2" "$1/pelorind"
  sed -i "s|<ServiceProviderPort>9555</ServiceProviderPort>|<ServiceProviderPort>$3</ServiceProviderPort>|" \
    "$1/config/configinit.xml"
}
