// Sends one command file to the kolibra driver and waits for its result.
//   Submit.exe --data-dir DIR --slot N [--timeout S] FILE
// Exit codes (the same as `kolibra submit`): 0 printed ("finesco" and SR_OUT's
// lines on stdout); 1 not printed (SR_ERR's line on stderr; E521 too: safe to
// send again; or the slot stayed busy and the job was never sent); 2 bad usage;
// 3 uncertain (E520: check the ECR's last receipt before sending again);
// 4 timed out with SR_START still there (the job may still run).
// With more than one writer per slot, every one of them must claim the slot
// as this client does (Claim): an exclusive lock on byte 0 of ~KBCLAIM.00n,
// held from writing the job to removing its results; `kolibra submit` and
// submit.py take the same lock (FileStream.Lock is a record lock, fcntl, on
// Linux under Mono and .NET, and LockFileEx on Windows).
// Builds with Debian's mono-mcs (mcs Submit.cs) and with the .NET SDK.
using System;
using System.Diagnostics;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;

static class Submit {
  const int Printed = 0, NotPrinted = 1, Usage = 2, Uncertain = 3, TimedOut = 4;
  static readonly Stopwatch Clock = Stopwatch.StartNew();

  // True once done() holds; false when the deadline (ms on Clock) passes first.
  static bool WaitUntil(Func<bool> done, long deadline) {
    while (!done()) {
      if (Clock.ElapsedMilliseconds >= deadline) return false;
      Thread.Sleep(100);  // look at the files ten times a second, never spin
    }
    return true;
  }

  static readonly bool Unix = Path.DirectorySeparatorChar == '/';

  [DllImport("libc", SetLastError = true)]
  static extern int chmod(string path, uint mode);

  // Sets a file's mode whatever the umask (a till user's 077 would keep the
  // driver out): File.SetUnixFileMode on .NET 7 and later, chmod elsewhere
  // (Mono). Windows files take the data folder's access list.
  static void SetMode(string path, int mode) {
    if (!Unix) return;
    Type modeType = Type.GetType("System.IO.UnixFileMode");
    var set = modeType == null ? null : typeof(File).GetMethod("SetUnixFileMode", new[] { typeof(string), modeType });
    if (set != null) set.Invoke(null, new object[] { path, Enum.ToObject(modeType, mode) });
    else if (chmod(path, (uint)mode) != 0) throw new IOException("chmod " + path);
  }

  // The claim file, open and locked; null while another client holds it.
  // The lock lasts until the stream is closed, or the process ends.
  static FileStream Claim(string path) {
    bool fresh = !File.Exists(path);
    var f = new FileStream(path, FileMode.OpenOrCreate, FileAccess.ReadWrite, FileShare.ReadWrite);
    if (fresh) {
      // Every client of the group must open it for writing to lock it.
      try { SetMode(path, Convert.ToInt32("660", 8)); } catch (Exception) { }
    }
    try {
      f.Lock(0, 1);
      return f;
    } catch (IOException) {  // held by another client
      f.Dispose();
      return null;
    }
  }

  // Writes under a temporary name of its own, then renames it into place:
  // the driver never sees a part of the file, and no other writer shares the
  // name. (Names beginning with ~KB are the driver's.) Mode 0640: readable
  // by the data folder's group (the driver's).
  static void WriteWhole(string path, byte[] data) {
    string temp = path + "." + Guid.NewGuid().ToString("N").Substring(0, 16) + ".tmp";
    using (var f = new FileStream(temp, FileMode.CreateNew)) {
      SetMode(temp, Convert.ToInt32("640", 8));
      f.Write(data, 0, data.Length);
      f.Flush(true);
    }
    if (File.Exists(path)) File.Replace(temp, path, null); else File.Move(temp, path);
  }

  static int Main(string[] args) {
    string dataDir = ".", file = null;
    int slot = 1, timeoutS = 120;
    bool ok = true;
    for (int i = 0; i < args.Length; i++) {
      string a = args[i], v = i + 1 < args.Length ? args[i + 1] : null;
      if (a == "--data-dir" && v != null) { dataDir = v; i++; }
      else if (a == "--slot" && int.TryParse(v, out slot) && slot >= 1 && slot <= 4) i++;
      else if (a == "--timeout" && int.TryParse(v, out timeoutS) && timeoutS > 0) i++;
      else if (file == null && !a.StartsWith("-")) file = a;
      else ok = false;
    }
    if (!ok || file == null || !File.Exists(file)) {
      Console.Error.WriteLine("usage: Submit --data-dir DIR --slot N [--timeout S] FILE");
      return Usage;
    }
    Func<string, string> jobFile = b => Path.Combine(dataDir, b + "." + slot.ToString("000"));
    string start = jobFile("SR_START"), err = jobFile("SR_ERR"), fin = jobFile("FINESCO"), output = jobFile("SR_OUT");
    long deadline = Clock.ElapsedMilliseconds + timeoutS * 1000L;
    // 0. Claim the slot for the whole cycle: another client waits meanwhile,
    //    so it neither replaces our files nor removes our results unread.
    FileStream claim = null;
    try {
      if (!WaitUntil(() => (claim = Claim(jobFile("~KBCLAIM"))) != null, deadline)) {
        Console.Error.WriteLine("slot busy: job not sent, send it again");
        return NotPrinted;
      }
    } catch (Exception e) {
      Console.Error.WriteLine("job not sent, cannot use " + jobFile("~KBCLAIM") + ": " + e.Message);
      return NotPrinted;
    }
    using (claim) return Cycle(file, start, err, fin, output, jobFile("SR_DATI"), deadline);
  }

  // Steps 1 to 6, with the slot claimed.
  static int Cycle(string file, string start, string err, string fin, string output, string dati, long deadline) {
    // 1. Wait until the slot is free: a start file means a job runs or waits.
    if (!WaitUntil(() => !File.Exists(start), deadline)) {
      Console.Error.WriteLine("slot busy: job not sent, send it again");
      return NotPrinted;
    }
    // 2. Clear old results, so that they are never read as this job's.
    foreach (string old in new[] { fin, err, output }) File.Delete(old);
    // 3. The command file, whole, then the start file: the job is handed over.
    WriteWhole(dati, File.ReadAllBytes(file));
    WriteWhole(start, Encoding.ASCII.GetBytes("1\r\n"));
    // 4. The driver removes the start file once the result file is in place.
    if (!WaitUntil(() => !File.Exists(start), deadline)) {
      Console.Error.WriteLine("timed out with the start file still there: the job may still run");
      return TimedOut;
    }
    long grace = Math.Max(deadline, Clock.ElapsedMilliseconds + 2000);
    if (!WaitUntil(() => File.Exists(err) || File.Exists(fin), grace)) {
      Console.Error.WriteLine("start file gone without a result: uncertain, check the ECR");
      return Uncertain;
    }
    // 5. Read the result. Result files appear whole (renamed into place);
    // they are Windows-1252 text (Latin-1 reads the same letters of a code).
    Encoding text = Encoding.GetEncoding("iso-8859-1");
    int code = Printed;
    if (File.Exists(err)) {
      string line = (File.ReadAllText(err, text) + "\r\n").Split('\r', '\n')[0];
      Console.Error.WriteLine(line);
      code = line.StartsWith("E520") || line.Length == 0 ? Uncertain : NotPrinted;
    } else {
      Console.WriteLine("finesco");
      if (File.Exists(output)) Console.Write(File.ReadAllText(output, text).Replace("\r\n", "\n"));
    }
    // 6. Remove the results read; the claim goes when the caller closes it.
    foreach (string done in new[] { fin, err, output }) File.Delete(done);
    return code;
  }
}
