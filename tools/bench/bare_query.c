/* The least a Time-protocol client can do: four connect-and-read queries to
   127.0.0.1:37, as kronsec's cycle with three calibrations makes. The
   baseline against which kronsec's own overhead is measured. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

int main(void) {
  struct sockaddr_in server = {0};
  server.sin_family = AF_INET;
  server.sin_port = htons(37);
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int i = 0; i < 4; ++i) {
    unsigned char answer[4];
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0 || connect(s, (struct sockaddr*)&server, sizeof server) != 0) return 1;
    if (recv(s, answer, 4, MSG_WAITALL) != 4) return 1;
    close(s);
  }
  puts("done");
  return 0;
}
