// Times the portal image conversion on its own: hex text decoded, written to
// its file under /tmp, read back byte by byte and encoded in Base64, for
// every image of a document. Run it with a private /tmp.
//
//   image_throughput INPUT RUNS
//
// Prints one line: hex text bytes per run, median seconds, MB/s (10^6).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <time.h>

#include <libxml/parser.h>
#include <libxml/xpath.h>

#include "base/run_state.h"
#include "engine/walk.h"
#include "steps/steps.h"
#include "toolkit/xpath.h"

namespace {

constexpr const char *image_expressions[] = {
    "./cpp:portal-profiles/cpp:portal-profile/cpp:portal-ux/cpp:background/cpp:content",
    "./cpp:portal-profiles/cpp:portal-profile/cpp:portal-ux/cpp:logo/cpp:content",
};

double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

long hex_text_bytes() {
  long total = 0;
  for (const char *expression : image_expressions) {
    XPathResult images = xpath_eval(run.root, expression);
    for (int i = 0; i < nodeset_count(images); ++i) {
      xmlChar *text = xmlNodeGetContent(nodeset_item(images, i));
      total += xmlStrlen(text);
      xmlFree(text);
    }
  }
  return total;
}

// One conversion of a freshly parsed document; the seconds of the step alone.
bool convert_once(const char *path, long *hex_bytes, double *seconds) {
  run.document = xmlParseFile(path);
  if (!run.document)
    return false;
  run.root = xmlDocGetRootElement(run.document);
  run.xpath_context = xmlXPathNewContext(run.document);
  register_namespaces(run.xpath_context);
  *hex_bytes = hex_text_bytes();
  double start = now();
  step_remote_range_and_portal_images(0);
  *seconds = now() - start;
  xmlXPathFreeContext(run.xpath_context);
  xmlFreeDoc(run.document);
  run = RunState{};
  return true;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    fputs("usage: image_throughput INPUT RUNS\n", stderr);
    return 2;
  }
  int runs = atoi(argv[2]);
  if (runs < 1 || runs > 100) {
    fputs("image_throughput: RUNS must be 1 to 100\n", stderr);
    return 2;
  }
  double seconds[100];
  long hex_bytes = 0;
  for (int i = 0; i < runs; ++i) {
    if (!convert_once(argv[1], &hex_bytes, &seconds[i])) {
      fprintf(stderr, "image_throughput: cannot parse %s\n", argv[1]);
      return 1;
    }
  }
  std::sort(seconds, seconds + runs);
  double median = seconds[runs / 2];
  printf("%ld %.6f %.1f\n", hex_bytes, median, median > 0 ? hex_bytes / median / 1e6 : 0.0);
  return 0;
}
