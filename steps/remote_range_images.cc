// Row 4: the allowed remote address range moves into a start-end-addresses
// container, and captive-portal images move from hex text to Base64, each
// passing once through a file under /tmp.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "steps/steps.h"
#include "toolkit/codec.h"
#include "toolkit/log.h"
#include "toolkit/run_state.h"
#include "toolkit/xpath.h"

namespace {

const char any_marker[] = "./fwbs:firewall/fwbs:allowed-remote-ip-addresses/fwbs:any";
const char old_start_leaf[] = "./fwbs:firewall/fwbs:allowed-remote-ip-addresses/fwbs:start-address";
const char old_end_leaf[] = "./fwbs:firewall/fwbs:allowed-remote-ip-addresses/fwbs:end-address";
const char range_container[] = "./fwbs:firewall/fwbs:allowed-remote-ip-addresses";
// The same leaves, relative to a container.
const char any_leaf[] = "./fwbs:any";
const char start_leaf[] = "./fwbs:start-address";
const char end_leaf[] = "./fwbs:end-address";

struct ImageRow {
  const char *expression;
  const char *tag;
};

constexpr ImageRow image_rows[] = {
    {"./cpp:portal-profiles/cpp:portal-profile/cpp:portal-ux/cpp:background/cpp:content", "bg"},
    {"./cpp:portal-profiles/cpp:portal-profile/cpp:portal-ux/cpp:logo/cpp:content", "logo"},
};

constexpr int32_t store_size = 1024000;

// Reused for every image, so memory stays bounded whatever the document.
unsigned char image_bytes[store_size];
char base64_text[store_size];

// Whether an image of `size` bytes is converted: the text the encoder has
// stored before it completes the last group (4 characters per 3 bytes, one
// per byte of a partial group) must leave room for the NUL. The encoder
// pads that group only with room to spare, so at the limit an image comes
// back unpadded, and is stored as it comes.
bool base64_fits(size_t size) { return 4 * (size / 3) + size % 3 < size_t{store_size}; }

// The image's file, new or a regular file we may truncate, opened for
// writing and reading back, and locked. Runs converting at the same time
// use the same names: the lock, taken before the truncation, keeps another
// run from touching the file until this one has read its image back. A
// symbolic link planted at the path is never followed, and a FIFO neither
// blocks the open nor takes the bytes. -1 when the file cannot be had.
int open_locked_image_file(const char *path) {
  int descriptor = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
  if (descriptor < 0)
    return -1;
  struct stat status;
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
      flock(descriptor, LOCK_EX) != 0 || ftruncate(descriptor, 0) != 0) {
    close(descriptor);
    return -1;
  }
  return descriptor;
}

bool write_all(int descriptor, const unsigned char *bytes, size_t size) {
  while (size > 0) {
    ssize_t written = write(descriptor, bytes, size);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      return false;
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// Writes the image to its file and reads it back as Base64 text through
// the same descriptor, holding the file's lock throughout: /tmp is shared,
// and by then the name may be another file or a link to one. True when
// base64_text now holds this image's text; a file that could not be
// written is not read, since an earlier run may have left another image
// under the same name.
bool convert_through_file(const char *path, size_t size) {
  int descriptor = open_locked_image_file(path);
  if (descriptor < 0)
    return false;
  bool converted = false;
  if (write_all(descriptor, image_bytes, size)) {
    // The encoder leaves the store untouched when it cannot read the file,
    // and an empty image comes back as a lone NUL.
    base64_text[0] = '?';
    int32_t count = base64_encode_file(path, descriptor, base64_text, store_size);
    converted = count > 0 || base64_text[0] == '\0';
  }
  // Closing releases the lock.
  close(descriptor);
  return converted;
}

// The byte of each pair of characters, read as one 16-bit number as they
// lie in memory: hex digits high nibble first, any other character 0.
// Made before the first image is decoded.
uint8_t pair_value[65536];
bool pair_values_made;

void make_pair_values() {
  uint8_t value[256];
  for (unsigned character = 0; character < 256; ++character)
    value[character] = hex_digit_value(static_cast<unsigned char>(character));
  for (unsigned high = 0; high < 256; ++high) {
    for (unsigned low = 0; low < 256; ++low) {
      const unsigned char pair[2] = {static_cast<unsigned char>(high),
                                     static_cast<unsigned char>(low)};
      uint16_t key;
      memcpy(&key, pair, 2);
      pair_value[key] = static_cast<uint8_t>(value[high] << 4 | value[low]);
    }
  }
  pair_values_made = true;
}

// Pairs of hex digits, high nibble first; a last unpaired character is
// ignored, so `length` characters give length / 2 bytes.
void decode_hex(const char *text, size_t length, unsigned char *bytes) {
  if (!pair_values_made)
    make_pair_values();
  size_t size = length / 2;
  size_t i = 0;
  // Four at a time, then the rest.
  for (uint16_t keys[4]; i + 4 <= size; i += 4) {
    memcpy(keys, text + 2 * i, 8);
    bytes[i] = pair_value[keys[0]];
    bytes[i + 1] = pair_value[keys[1]];
    bytes[i + 2] = pair_value[keys[2]];
    bytes[i + 3] = pair_value[keys[3]];
  }
  for (uint16_t key; i < size; ++i) {
    memcpy(&key, text + 2 * i, 2);
    bytes[i] = pair_value[key];
  }
}

void convert_image(xmlNode *node, const char *tag, int index) {
  XmlText copy;
  // An image is one long text node, read in place.
  const char *text = node_text(node, &copy);
  if (!text)
    return;
  char path[128];
  // The path is kept byte for byte: scripts and operators look for the images there.
  snprintf(path, sizeof path, CFGMIGRATE_IMAGE_PATH, tag, index);
  size_t length = strlen(text);
  size_t size = length / 2;
  if (size > sizeof image_bytes || !base64_fits(size)) {
    log_info("cfgmigrate(%d): Error: image %s of %zu bytes is too large, kept as hex", __LINE__,
             path, size);
    return;
  }
  decode_hex(text, length, image_bytes);
  if (!convert_through_file(path, size))
    return;
  // Base64 holds no '&': the text goes in as it is, where xmlNodeSetContent
  // would scan all of it for references. Nor is it ever blank, and empty
  // text adds no node: nothing for the save to strip (note_added_text).
  xmlNodeSetContent(node, nullptr);
  xmlNodeAddContent(node, reinterpret_cast<const xmlChar *>(base64_text));
}

void convert_images(const ImageRow &row) {
  XPathResult images = xpath_eval(run.root, row.expression);
  int count = nodeset_count(images);
  log_debug("cfgmigrate(%d): %s has %d instances", __LINE__, row.expression, count);
  for (int k = count - 1; k >= 0; --k)
    convert_image(nodeset_item(images, k), row.tag, k);
}

// The first container holding `leaf`. Containers are in document order and
// hold none of their own, so its first `leaf` is the first the leaf's
// whole path selects.
xmlNode *container_with(const XPathResult &containers, const char *leaf) {
  for (int i = 0; i < nodeset_count(containers); ++i) {
    if (xpath_first(nodeset_item(containers, i), leaf))
      return nodeset_item(containers, i);
  }
  return nullptr;
}

// The containers are found in one walk of the firewall's children, which
// hold thousands of rules, and the leaves looked up inside them. Where the
// containers cannot be found, each leaf's whole path is asked, and logs its
// own error.
void move_remote_range() {
  XPathResult containers = xpath_eval(run.root, range_container);
  if (containers ? container_with(containers, any_leaf) != nullptr
                 : xpath_first(run.root, any_marker) != nullptr)
    return;
  char start_text[64] = {};
  char end_text[64] = {};
  if (!containers) {
    xpath_get_text(run.root, old_start_leaf, start_text, sizeof start_text);
    xpath_get_text(run.root, old_end_leaf, end_text, sizeof end_text);
  } else {
    // Without a container holding the leaf its text stays all zeros.
    if (xmlNode *container = container_with(containers, start_leaf))
      xpath_get_text(container, start_leaf, start_text, sizeof start_text);
    if (xmlNode *container = container_with(containers, end_leaf))
      xpath_get_text(container, end_leaf, end_text, sizeof end_text);
  }
  xmlNode *range = new_element("start-end-addresses");
  // Without the new element the addresses would have nowhere to go: they stay.
  if (!range)
    return;
  add_child(containers ? nodeset_first(containers) : xpath_first(run.root, range_container), range);
  // Without a container the new element belongs to nobody.
  if (!range->parent) {
    xmlFreeNode(range);
  } else {
    add_text_child(range, "start-address", start_text);
    add_text_child(range, "end-address", end_text);
  }
  if (!containers) {
    xpath_remove_all(run.root, old_start_leaf);
    xpath_remove_all(run.root, old_end_leaf);
    return;
  }
  for (int i = 0; i < nodeset_count(containers); ++i) {
    xpath_remove_all(nodeset_item(containers, i), start_leaf);
    xpath_remove_all(nodeset_item(containers, i), end_leaf);
  }
}

} // namespace

const char *const step_remote_range_and_portal_images_reads[] = {
    old_start_leaf, old_end_leaf, image_rows[0].expression, image_rows[1].expression, nullptr};

const char *step_remote_range_and_portal_images(int reverse) {
  if (reverse)
    return step_remote_range_and_portal_images_row.from_label;
  move_remote_range();
  for (const ImageRow &row : image_rows)
    convert_images(row);
  return step_remote_range_and_portal_images_row.to_label;
}
