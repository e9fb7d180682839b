// Packing the depth model: a fresh nonce for every pack, the secrets header
// the build compiles in, and the check that opens what was packed.
#include "tools/model_pack/model_packer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "ai3d/pipeline/temp_folder.h"

namespace vistrelle::tools {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

const std::string kFolder = "DepthAnythingV2float16.mlmodelc";

Bytes modelZip(const Bytes& model) {
  return zipEntries({{kFolder + "/", {}}, {kFolder + "/model.onnx", model}});
}

TEST(ModelPacker, EveryPackDrawsItsOwnNonce) {
  const Bytes key(32, 0x42);
  const Bytes zip = modelZip(Bytes(300, 9));
  std::set<Bytes> nonces, ciphertexts;
  for (int i = 0; i < 8; ++i) {
    const SealedArchive sealed = aesGcmSealFresh(zip, key);
    ASSERT_EQ(sealed.nonce.size(), 12u);
    nonces.insert(sealed.nonce);
    ciphertexts.insert(sealed.ciphertext);
    const Bytes tag(sealed.tag.begin(), sealed.tag.end());
    EXPECT_EQ(aesGcmOpenSealed(sealed.ciphertext, key, sealed.nonce, tag), zip);
  }
  EXPECT_EQ(nonces.size(), 8u);
  EXPECT_EQ(ciphertexts.size(), 8u) << "no two packs share a keystream";
}

TEST(ModelPacker, CheckOpensWhatWasPackedAndNothingElse) {
  const Bytes key(32, 0x42);
  const Bytes model(500, 3);
  const SealedArchive sealed = aesGcmSealFresh(modelZip(model), key);
  const ModelSecrets secrets{hexString(key.data(), key.size()),
                             hexString(sealed.nonce.data(), sealed.nonce.size()),
                             hexString(sealed.tag.data(), sealed.tag.size())};
  const ModelSecrets parsed = parseSecretsHeader(secretsHeader(secrets));
  EXPECT_EQ(parsed.key, secrets.key);
  EXPECT_EQ(parsed.nonce, secrets.nonce);
  EXPECT_EQ(parsed.tag, secrets.tag);
  EXPECT_EQ(checkSealedModel(parsed, sealed.ciphertext, model, kFolder), std::nullopt);

  Bytes flipped = sealed.ciphertext;
  flipped[10] ^= 1;
  ModelSecrets otherNonce = secrets;
  otherNonce.nonce[0] = otherNonce.nonce[0] == '0' ? '1' : '0';
  const SealedArchive extra = aesGcmSealFresh(
      zipEntries({{kFolder + "/", {}}, {kFolder + "/model.onnx", model}, {"x", {1}}}), key);
  const ModelSecrets extraSecrets{secrets.key, hexString(extra.nonce.data(), 12),
                                  hexString(extra.tag.data(), 16)};
  EXPECT_THAT(checkSealedModel(secrets, flipped, model, kFolder).value_or(""),
              HasSubstr("does not open"));
  EXPECT_THAT(checkSealedModel(otherNonce, sealed.ciphertext, model, kFolder).value_or(""),
              HasSubstr("does not open"));
  EXPECT_THAT(checkSealedModel(secrets, sealed.ciphertext, Bytes(500, 4), kFolder).value_or(""),
              HasSubstr("not the model"));
  EXPECT_THAT(checkSealedModel(extraSecrets, extra.ciphertext, model, kFolder).value_or(""),
              HasSubstr("other entries"));
  EXPECT_THROW(parseSecretsHeader("#define VISTRELLE_DEPTH_MODEL_KEY \"00\"\n"),
               std::runtime_error);
}

// The tool as the build runs it: seal, then check; a packed file that was
// changed afterwards fails the check.
TEST(ModelPackTool, SealThenCheckAsTheBuildDoes) {
  vistrelle::testing::TempFolder temp;
  const fs::path model = temp.path() / "model.onnx";
  writeFile(model.string(), Bytes(1000, 5));
  const std::string tool = VISTRELLE_MODEL_PACK_TOOL;
  const std::string key(64, 'a');
  auto run = [&](const std::string& arguments) {
    return std::system((tool + " " + arguments + " >/dev/null 2>&1").c_str());
  };
  const std::string first = (temp.path() / "first.bin").string();
  const std::string second = (temp.path() / "second.bin").string();
  const std::string secrets = (temp.path() / "secrets.h").string();
  const std::string secrets2 = (temp.path() / "secrets2.h").string();
  ASSERT_EQ(run("seal --key " + key + " --model " + model.string() + " --out " + first +
                " --secrets " + secrets),
            0);
  ASSERT_EQ(run("seal --key " + key + " --model " + model.string() + " --out " + second +
                " --secrets " + secrets2),
            0);
  EXPECT_NE(readFile(first), readFile(second)) << "the same model sealed twice alike";
  EXPECT_EQ(run("check --secrets " + secrets + " --in " + first + " --model " + model.string()), 0);
  EXPECT_NE(run("check --secrets " + secrets + " --in " + second + " --model " + model.string()), 0)
      << "a resource opened with another pack's nonce and tag";
  Bytes changed = readFile(first);
  changed.back() ^= 0x80;
  writeFile(first, changed);
  EXPECT_NE(run("check --secrets " + secrets + " --in " + first + " --model " + model.string()), 0);
  EXPECT_NE(run("seal --key " + key + " --iv 000000000000000000000000 --model " + model.string() +
                " --out " + first),
            0)
      << "a nonce is never taken from the caller";
}

}  // namespace
}  // namespace vistrelle::tools
