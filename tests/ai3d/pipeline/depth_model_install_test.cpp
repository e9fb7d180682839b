#include "ai3d/pipeline/depth_model_install.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "ai3d/pipeline/depth_model.h"
#include "ai3d/pipeline/depth_model_holder.h"
#include "ai3d/pipeline/temp_folder.h"
#include "platform/inference/fake/fake_depth_network.h"
#include "platform/inference/linux/opencv_depth_network.h"
#include "tools/model_pack/model_packer.h"

namespace vistrelle::ai3d {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

Bytes bytesOf(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// --- hex --------------------------------------------------------------------

struct HexCase {
  const char* text;
  std::optional<Bytes> bytes;
};

TEST(DataFromHexString, Table) {
  const HexCase cases[] = {
      {"", Bytes{}},
      {"00ff10", Bytes{0x00, 0xff, 0x10}},
      {"00 ff 10", Bytes{0x00, 0xff, 0x10}},
      {" 0 0f f1 0 ", Bytes{0x00, 0xff, 0x10}},
      {"AbCd", Bytes{0xab, 0xcd}},
      {"abc", std::nullopt},
      {"ab c", std::nullopt},
      {"0g", std::nullopt},
      {"zz", std::nullopt},
      {"0x10", std::nullopt},
      {"12\t3", std::nullopt},
      {"-1", std::nullopt},
  };
  for (const HexCase& c : cases) {
    EXPECT_EQ(dataFromHexString(c.text), c.bytes) << '"' << c.text << '"';
  }
}

// --- AES-GCM ------------------------------------------------------------------

class AesGcmOpenTest : public ::testing::Test {
 protected:
  const Bytes key_ = Bytes(32, 0x11);
  const Bytes nonce_ = Bytes(12, 0x22);
  const Bytes plain_ = bytesOf("the depth model archive");
  const tools::SealedArchive sealed_ = tools::aesGcmSeal(plain_, key_, nonce_);
  Bytes tag() const { return Bytes(sealed_.tag.begin(), sealed_.tag.end()); }
};

TEST_F(AesGcmOpenTest, OpensWithTheRightValues) {
  std::string error;
  EXPECT_EQ(aesGcmOpen(sealed_.ciphertext, key_, nonce_, tag(), &error), plain_) << error;
}

TEST_F(AesGcmOpenTest, RefusesTamperingAndWrongLengths) {
  Bytes flippedCipher = sealed_.ciphertext;
  flippedCipher[3] ^= 0x01;
  Bytes flippedTag = tag();
  flippedTag[15] ^= 0x80;
  Bytes otherKey = key_;
  otherKey[0] ^= 1;
  struct Case {
    const char* name;
    Bytes cipher, key, nonce, tag;
    const char* reason;
  };
  const Case cases[] = {
      {"ciphertext byte", flippedCipher, key_, nonce_, tag(), "authentication failed"},
      {"tag byte", sealed_.ciphertext, key_, nonce_, flippedTag, "authentication failed"},
      {"other key", sealed_.ciphertext, otherKey, nonce_, tag(), "authentication failed"},
      {"31-byte key", sealed_.ciphertext, Bytes(31, 0x11), nonce_, tag(), "key must be 32 bytes"},
      {"33-byte key", sealed_.ciphertext, Bytes(33, 0x11), nonce_, tag(), "key must be 32 bytes"},
      {"11-byte nonce", sealed_.ciphertext, key_, Bytes(11, 0x22), tag(), "nonce must be 12 bytes"},
      {"15-byte tag", sealed_.ciphertext, key_, nonce_, Bytes(15, 0), "tag must be 16 bytes"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(aesGcmOpen(c.cipher, c.key, c.nonce, c.tag, &error), std::nullopt) << c.name;
    EXPECT_EQ(error, c.reason) << c.name;
  }
}

// --- install ------------------------------------------------------------------

const std::string kKey = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
const std::string kNonce = "a0a1a2a3a4a5a6a7a8a9aaab";
const std::string kModelEntry = "DepthAnythingV2float16.mlmodelc/model.onnx";

class InstallTest : public ::testing::Test {
 protected:
  InstallTest() {
    data_ = temp_.path() / "Documents" / ".OrvexSpace";
    resource_ = temp_.path() / "model-enc.bin";
    env_.resourcePath = resource_.string();
    env_.dataFolder = data_.string();
    env_.createDataFolder = [this] { return fs::create_directories(data_) || fs::exists(data_); };
    env_.print = [this](const std::string& line) { printed_.push_back(line); };
    env_.log = [this](const std::string& line) { logged_.push_back(line); };
    env_.loadNetwork = [this](std::span<const uint8_t> onnx,
                              std::string* reason) -> std::unique_ptr<inference::DepthNetwork> {
      loadedBytes_.assign(onnx.begin(), onnx.end());
      if (refuseLoad_) {
        *reason = "not a model";
        return nullptr;
      }
      return std::make_unique<inference::FakeDepthNetwork>();
    };
  }

  // Seals a zip of entries into the resource; answers the keys that open it.
  OrvexDecryptAESGCM pack(const std::vector<tools::ZipEntry>& entries) {
    return packBytes(tools::zipEntries(entries));
  }
  OrvexDecryptAESGCM packBytes(const Bytes& plain) {
    const auto sealed = tools::aesGcmSeal(plain, tools::parseHex(kKey), tools::parseHex(kNonce));
    tools::writeFile(resource_.string(), sealed.ciphertext);
    return {kKey, kNonce, tools::hexString(sealed.tag.data(), sealed.tag.size())};
  }
  OrvexDecryptAESGCM packModel() {
    return pack({{"DepthAnythingV2float16.mlmodelc/", {}}, {kModelEntry, model_}});
  }

  void expectNoLeftovers() {
    EXPECT_FALSE(fs::exists(data_ / "DepthAnythingV2float16.mlmodelc.zip"));
    EXPECT_FALSE(fs::exists(data_ / ".DepthModel"));
  }

  testing::TempFolder temp_;
  fs::path data_;
  fs::path resource_;
  DepthModelEnvironment env_;
  DepthModelHolder manager_;
  std::vector<std::string> printed_;
  std::vector<std::string> logged_;
  Bytes loadedBytes_;
  bool refuseLoad_ = false;
  const Bytes model_ = bytesOf("stand-in network bytes");
};

TEST_F(InstallTest, SuccessLoadsTheModelAndLeavesNothingOnDisk) {
  const auto keys = packModel();
  EXPECT_TRUE(installDepthModel(keys, manager_, env_));
  EXPECT_NE(manager_.model(), nullptr);
  EXPECT_EQ(loadedBytes_, model_);
  expectNoLeftovers();
  const std::string zipPath = (data_ / "DepthAnythingV2float16.mlmodelc.zip").string();
  EXPECT_THAT(printed_, Contains("已保存到: " + zipPath));
  EXPECT_THAT(printed_, Contains("文件是否存在: true"));
}

TEST_F(InstallTest, DecryptedArchiveIsNeverPrintedOnlyItsSize) {
  // Plain text that a print of "valid UTF-8" would have shown.
  const auto keys = packBytes(bytesOf("secret model weights as text"));
  EXPECT_FALSE(installDepthModel(keys, manager_, env_));
  EXPECT_THAT(printed_, Contains("解密成功:28 字节"));
  for (const std::string& line : printed_) {
    EXPECT_THAT(line, ::testing::Not(HasSubstr("secret model"))) << line;
  }
  expectNoLeftovers();
}

TEST_F(InstallTest, PlainZipIsCreatedPrivateAndFresh) {
  const auto keys = packModel();
  const fs::path zipPath = data_ / "DepthAnythingV2float16.mlmodelc.zip";
  std::optional<fs::perms> mode;
  env_.print = [&](const std::string& line) {
    printed_.push_back(line);
    // The zip exists between its write and the unzip, when this is printed.
    if (line.rfind("已保存到: ", 0) == 0) mode = fs::status(zipPath).permissions();
  };
  const mode_t umask = ::umask(0);  // whatever the user's umask, the zip is theirs alone
  EXPECT_TRUE(installDepthModel(keys, manager_, env_));
  ::umask(umask);
  ASSERT_TRUE(mode.has_value());
  EXPECT_EQ(*mode & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

  // A link planted at the zip's name after the leftovers were cleared (the
  // folder is created between the two): refused, the link's target untouched.
  const fs::path victim = temp_.path() / "victim";
  tools::writeFile(victim.string(), bytesOf("untouched"));
  env_.createDataFolder = [&] {
    fs::create_directories(data_);
    fs::create_symlink(victim, zipPath);
    return true;
  };
  printed_.clear();
  DepthModelHolder other;
  EXPECT_FALSE(installDepthModel(keys, other, env_));
  EXPECT_THAT(printed_, Contains(HasSubstr("保存失败: cannot create")));
  EXPECT_EQ(tools::readFile(victim.string()), bytesOf("untouched"));
}

TEST_F(InstallTest, FailedAuthenticationNeverLoadsAnEarlierFolder) {
  auto keys = packModel();
  keys.aes_gcm_tag[0] = keys.aes_gcm_tag[0] == '0' ? '1' : '0';
  // What an earlier, interrupted run might have left behind.
  fs::create_directories(data_ / ".DepthModel" / "DepthAnythingV2float16.mlmodelc");
  tools::writeFile((data_ / ".DepthModel" / kModelEntry).string(), bytesOf("stale"));
  tools::writeFile((data_ / "DepthAnythingV2float16.mlmodelc.zip").string(), bytesOf("stale"));

  EXPECT_FALSE(installDepthModel(keys, manager_, env_));
  EXPECT_EQ(manager_.model(), nullptr);
  EXPECT_THAT(loadedBytes_, IsEmpty());
  EXPECT_THAT(printed_, Contains("解密失败:authentication failed"));
  EXPECT_THAT(printed_, Contains("文件是否存在: false"));
  expectNoLeftovers();
}

TEST_F(InstallTest, BadSecretsFailWithoutACrash) {
  const auto good = packModel();
  struct Case {
    const char* name;
    OrvexDecryptAESGCM keys;
    const char* printed;
  };
  const Case cases[] = {
      {"31-byte key",
       {good.aes_gcm_key.substr(2), good.aes_gcm_iv, good.aes_gcm_tag},
       "解密失败:key must be 32 bytes"},
      {"11-byte nonce",
       {good.aes_gcm_key, good.aes_gcm_iv.substr(2), good.aes_gcm_tag},
       "解密失败:nonce must be 12 bytes"},
      {"15-byte tag",
       {good.aes_gcm_key, good.aes_gcm_iv, good.aes_gcm_tag.substr(2)},
       "解密失败:tag must be 16 bytes"},
      {"non-hex key",
       {"zz" + good.aes_gcm_key.substr(2), good.aes_gcm_iv, good.aes_gcm_tag},
       "解密失败:key, nonce or tag is not hex text"},
      {"odd nonce",
       {good.aes_gcm_key, good.aes_gcm_iv.substr(1), good.aes_gcm_tag},
       "解密失败:key, nonce or tag is not hex text"},
  };
  for (const Case& c : cases) {
    printed_.clear();
    EXPECT_FALSE(installDepthModel(c.keys, manager_, env_)) << c.name;
    EXPECT_EQ(manager_.model(), nullptr) << c.name;
    EXPECT_THAT(printed_, Contains(c.printed)) << c.name;
    expectNoLeftovers();
  }
}

TEST_F(InstallTest, MissingResourceLeavesTheModelAbsent) {
  EXPECT_FALSE(installDepthModel({kKey, kNonce, std::string(32, '0')}, manager_, env_));
  EXPECT_EQ(manager_.model(), nullptr);
  EXPECT_THAT(printed_, Contains("文件是否存在: false"));
  EXPECT_THAT(logged_, Contains(HasSubstr("unreadable")));
  expectNoLeftovers();
}

TEST_F(InstallTest, CorruptZipLeavesNothing) {
  const auto keys = packBytes(Bytes(4096, 0x5a));
  EXPECT_FALSE(installDepthModel(keys, manager_, env_));
  EXPECT_EQ(manager_.model(), nullptr);
  EXPECT_THAT(printed_, Contains("文件是否存在: false"));
  expectNoLeftovers();
}

TEST_F(InstallTest, ZipSlipEntriesAreRefused) {
  const char* hostile[] = {"../evil.onnx", "/tmp/evil.onnx", "a/../../evil.onnx", "..",
                           "DepthAnythingV2float16.mlmodelc/..\\..\\evil"};
  for (const char* name : hostile) {
    printed_.clear();
    const auto keys = pack({{kModelEntry, model_}, {name, bytesOf("evil")}});
    EXPECT_FALSE(installDepthModel(keys, manager_, env_)) << name;
    EXPECT_EQ(manager_.model(), nullptr) << name;
    EXPECT_THAT(printed_, Contains("文件是否存在: false")) << name;
    EXPECT_FALSE(fs::exists(data_.parent_path() / "evil.onnx")) << name;
    expectNoLeftovers();
  }
}

TEST_F(InstallTest, LoadFailureKeepsNoPlainModel) {
  refuseLoad_ = true;
  EXPECT_FALSE(installDepthModel(packModel(), manager_, env_));
  EXPECT_EQ(manager_.model(), nullptr);
  EXPECT_EQ(loadedBytes_, model_);
  EXPECT_THAT(logged_, Contains("depth model load failed: not a model"));
  expectNoLeftovers();
}

TEST_F(InstallTest, UnwritableDataFolderStopsBeforeUnzipping) {
  const auto keys = packModel();
  fs::create_directories(data_.parent_path());
  tools::writeFile(data_.string(), bytesOf("a file where the folder should be"));
  env_.createDataFolder = [] { return false; };
  EXPECT_FALSE(installDepthModel(keys, manager_, env_));
  EXPECT_EQ(manager_.model(), nullptr);
  EXPECT_THAT(printed_, Contains(HasSubstr("保存失败: ")));
}

// --- the carried resource -------------------------------------------------------

TEST(CarriedModel, BuiltResourceOpensWithTheProgramsSecrets) {
  const Bytes built = tools::readFile(VISTRELLE_BUILT_RESOURCE);
  const OrvexDecryptAESGCM& keys = OrvexDecryptAESGCM::shared();
  std::string error;
  const auto plain =
      aesGcmOpen(built, *dataFromHexString(keys.aes_gcm_key), *dataFromHexString(keys.aes_gcm_iv),
                 *dataFromHexString(keys.aes_gcm_tag), &error);
  ASSERT_TRUE(plain.has_value()) << error;
  bool unpacked = false;
  testing::TempFolder temp;
  const std::string zipPath = (temp.path() / "model.zip").string();
  tools::writeFile(zipPath, *plain);
  unzipDepthModel(zipPath, [&](bool ok, DepthModelFolder folder) {
    unpacked = ok;
    EXPECT_EQ(folder.files[kModelEntry], tools::readFile(VISTRELLE_MODEL_DIR "/model.onnx"));
  });
  EXPECT_TRUE(unpacked);
}

TEST(CarriedModel, InstallsAndRunsOnOpenCv) {
  testing::TempFolder temp;
  DepthModelEnvironment env;
  env.resourcePath = VISTRELLE_BUILT_RESOURCE;
  env.dataFolder = (temp.path() / ".OrvexSpace").string();
  env.createDataFolder = [&] { return fs::create_directories(env.dataFolder); };
  env.print = [](const std::string&) {};
  std::vector<std::string> logged;
  env.log = [&](const std::string& line) { logged.push_back(line); };
  env.loadNetwork = [&](std::span<const uint8_t> onnx, std::string* reason) {
    return inference::OpenCvDepthNetwork::load(
        onnx, [&](std::string_view line) { logged.emplace_back(line); }, reason);
  };
  DepthModelHolder manager;
  ASSERT_TRUE(installDepthModel(OrvexDecryptAESGCM::shared(), manager, env));
  ASSERT_NE(manager.model(), nullptr);
  EXPECT_THAT(manager.model()->description(), HasSubstr("OpenCV DNN"));
  EXPECT_THAT(logged, Contains(HasSubstr("depth model on OpenCV DNN")));
  EXPECT_FALSE(fs::exists(temp.path() / ".OrvexSpace" / ".DepthModel"));
  EXPECT_FALSE(fs::exists(temp.path() / ".OrvexSpace" / "DepthAnythingV2float16.mlmodelc.zip"));
}

}  // namespace
}  // namespace vistrelle::ai3d
