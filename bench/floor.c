/* floor --output OUT IN: libxml2's own parse of IN and save into OUT, with the
 * calls and options xmllint --output OUT IN makes (its default parse options,
 * the tree saved as parsed, the document freed): the benchmark's floor for a
 * libxml2 built without xmllint. */
#include <libxml/parser.h>
#include <libxml/xmlsave.h>
#include <string.h>

int main(int argc, char **argv) {
  if (argc != 4 || strcmp(argv[1], "--output") != 0)
    return 2;
  xmlDocPtr document = xmlReadFile(argv[3], NULL, XML_PARSE_COMPACT | XML_PARSE_BIG_LINES);
  if (!document)
    return 1;
  xmlSaveCtxtPtr save = xmlSaveToFilename(argv[2], NULL, 0);
  int failed = !save || xmlSaveDoc(save, document) < 0;
  if (save)
    xmlSaveClose(save);
  xmlFreeDoc(document);
  return failed;
}
