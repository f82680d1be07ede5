// stb's JPEG writer, the test's independent encoder. Compiled on its own so that the
// sanitizers can leave out its shifts of negative values (stb's arithmetic, not ours).
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
