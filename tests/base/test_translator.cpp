// A translation library for the framework's tests: upper-cases ASCII
// letters toward the driver, lower-cases them toward the data source. Option
// 1 reports a failure message, option 2 returns a different length.
#include <cctype>
#include <cstdint>
#include <cstring>

extern "C" {

__attribute__((visibility("default"))) int SQLDataSourceToDriver(uint32_t option, int16_t, void* in,
                                                                 int32_t inLength, void* out, int32_t,
                                                                 int32_t* outLength, unsigned char* message,
                                                                 int16_t messageMax, int16_t* messageLength) {
  if (option == 1) {
    std::strncpy(reinterpret_cast<char*>(message), "cannot translate", size_t(messageMax));
    if (messageLength) *messageLength = 16;
    return 0;
  }
  auto* from = static_cast<unsigned char*>(in);
  auto* to = static_cast<unsigned char*>(out);
  for (int32_t i = 0; i < inLength; ++i) to[i] = static_cast<unsigned char>(std::toupper(from[i]));
  *outLength = option == 2 ? inLength - 1 : inLength;
  return 1;
}

__attribute__((visibility("default"))) int SQLDriverToDataSource(uint32_t option, int16_t, void* in,
                                                                 int32_t inLength, void* out, int32_t,
                                                                 int32_t* outLength, unsigned char*, int16_t,
                                                                 int16_t*) {
  auto* from = static_cast<unsigned char*>(in);
  auto* to = static_cast<unsigned char*>(out);
  for (int32_t i = 0; i < inLength; ++i) to[i] = static_cast<unsigned char>(std::tolower(from[i]));
  *outLength = inLength;
  (void)option;
  return 1;
}
}
