#pragma once
// Starts kit/tests/http_test_server.py with python3 on a directory and stops
// it again. The server picks an ephemeral port on 127.0.0.1 and reports it.

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

class HttpTestServer {
public:
    // lifetime: seconds after which the server ends by itself.
    bool Start(const std::string& root, int lifetime = 120)
    {
        int out[2];
        if (pipe(out) != 0) {
            return false;
        }
        const std::string script = std::string(LUMIVOR_SOURCE_DIR) + "/kit/tests/http_test_server.py";
        const std::string seconds = std::to_string(lifetime);
        pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            execlp("python3", "python3", script.c_str(), root.c_str(), seconds.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        if (pid < 0) {
            close(out[0]);
            return false;
        }
        FILE* in = fdopen(out[0], "r");
        if (in == nullptr) {
            close(out[0]);
            return false;
        }
        const bool ok = std::fscanf(in, "PORT %d SILENT %d", &port, &silentPort) == 2;
        std::fclose(in);
        return ok;
    }
    void Stop()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status = 0;
            waitpid(pid, &status, 0);
            pid = -1;
        }
    }
    ~HttpTestServer() { Stop(); }

    std::string Url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(port) + "/" + path;
    }

    pid_t pid = -1;
    int port = 0;
    int silentPort = 0;
};
