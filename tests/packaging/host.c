/* SPDX-License-Identifier: MIT */
/* A C host built against the installed library only, with the flags pkg-config gives: it runs
 * one exchange that files one tag, prints the response and ends with status 0 when the
 * response carries that tag back. The callback arrives on the library's thread; the main
 * thread waits for it.
 *
 * Usage: host EXCHANGE_DIRECTORY   (provisioned by TAVRO_ENTITLEMENTS, XDG_DATA_HOME and
 * XDG_CONFIG_HOME) */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tavro/AppleBridge.h>

struct answer {
    pthread_mutex_t mutex;
    pthread_cond_t arrived;
    char *response;
};

static void deliver(intptr_t context, const char *response) {
    struct answer *answer = (struct answer *)context;
    pthread_mutex_lock(&answer->mutex);
    answer->response = strdup(response); /* valid only during the call */
    pthread_cond_signal(&answer->arrived);
    pthread_mutex_unlock(&answer->mutex);
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: host EXCHANGE_DIRECTORY\n");
        return 2;
    }
    char *container = tavro_apple_group_path();
    if (!container) {
        fprintf(stderr, "host: no App Group container\n");
        return 1;
    }
    static const char format[] =
        "{\"version\":1,\"storePath\":\"%s/Library/Tavro.store\",\"directory\":\"%s\","
        "\"records\":[{\"recordType\":\"Tag\","
        "\"uuid\":\"20000000-0000-0000-0000-0000000000c1\",\"name\":\"from C\"}]}";
    size_t size = sizeof format + strlen(container) + strlen(argv[1]);
    char *request = malloc(size);
    snprintf(request, size, format, container, argv[1]);
    tavro_apple_free(container);

    struct answer answer = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, NULL};
    tavro_apple_exchange(request, (intptr_t)&answer, deliver);
    free(request); /* the library copied it */
    pthread_mutex_lock(&answer.mutex);
    while (!answer.response) {
        pthread_cond_wait(&answer.arrived, &answer.mutex);
    }
    pthread_mutex_unlock(&answer.mutex);

    puts(answer.response);
    int ok = strstr(answer.response, "\"error\"") == NULL &&
             strstr(answer.response, "20000000-0000-0000-0000-0000000000c1") != NULL;
    free(answer.response);
    return ok ? 0 : 1;
}
